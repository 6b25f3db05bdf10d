#include "cli/file_commands.h"

#include <cerrno>

#include "app/termination_signals.h"
#include "output/jpeg_codec.h"

int RunToJpeg(const std::string& inputPath, const std::string& outputPath, const Console& console) {
    // A signal abandons the conversion between two rows: the unfinished file is removed
    // before the program ends.
    const TerminationFlag termination;
    const IoResult result = ConvertBitmapFileToJpeg(
        inputPath, outputPath, 100, [&termination] { return termination.lastSignal() != 0; });
    if (result) {
        return kExitSuccess;
    }
    if (result.error() == ECANCELED) {
        return console.FailForSignal(termination.lastSignal());
    }
    return console.Fail(kExitFile, "%s", result.detail().c_str());
}
