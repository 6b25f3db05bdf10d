#include "cli/console.h"

#include <cstdarg>

void Console::Print(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
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
