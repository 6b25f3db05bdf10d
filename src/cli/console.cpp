#include "cli/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

// The errno of a failed write to `stream`, once it has been flushed; 0 when all went out.
int FlushError(std::FILE* stream) {
    errno = 0;
    if (std::fflush(stream) == 0 && std::ferror(stream) == 0) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

}  // namespace

void Console::Print(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    if (const int error = FlushError(out); error != 0 && outError == 0) {
        outError = error;
    }
}

void Console::PrintText(const char* text) const {
    std::fputs(text, out);
    if (const int error = FlushError(out); error != 0 && outError == 0) {
        outError = error;
    }
}

int Console::FailForSignal(int signalNumber) const {
    return Fail(ExitCodeForSignal(signalNumber), "stopped by a signal (%s)",
                strsignal(signalNumber));
}

int Console::Fail(int exitCode, const char* format, ...) const {
    std::fprintf(err, "%s: ", kCliProgramName);
    va_list args;
    va_start(args, format);
    std::vfprintf(err, format, args);
    va_end(args);
    std::fputc('\n', err);
    std::fflush(err);
    return exitCode;
}
