#include "cli/file_commands.h"

#include <cerrno>
#include <cstring>

#include "app/termination_signals.h"
#include "output/jpeg_codec.h"
#include "platform/regular_files.h"

namespace {

// Why a bitmap file could not be read, in words (see LoadBitmapFile for the codes).
std::string BitmapReadText(int error) {
    switch (error) {
        case EBADMSG:
            return "not a bitmap file, or a damaged one";
        case ENOTSUP:
            return "a compressed or bit-field bitmap, which cannot be converted";
        default:
            return platform::FileErrorText(error);
    }
}

int ReportConversion(const BitmapFileConversion& result, const std::string& inputPath,
                     const std::string& outputPath, int stopSignal, const Console& console) {
    using Outcome = BitmapFileConversion::Outcome;
    const char* input = inputPath.c_str();
    const char* output = outputPath.c_str();
    switch (result.outcome) {
        case Outcome::kWritten:
            return kExitSuccess;
        case Outcome::kUnreadable:
            return console.Fail(kExitFile, "cannot read %s: %s", input,
                                BitmapReadText(result.error).c_str());
        case Outcome::kReadFailed:
            return console.Fail(kExitFile, "cannot read %s: %s", input,
                                platform::FileErrorText(result.error).c_str());
        case Outcome::kTooLarge:
            return console.Fail(kExitFile,
                                "cannot convert %s: the picture is %d x %d pixels, and a JPEG "
                                "file holds at most %d on a side",
                                input, result.width, result.height, kJpegMaxSide);
        case Outcome::kSameFile:
            return console.Fail(
                kExitFile, "cannot write %s: it names the bitmap file being converted", output);
        case Outcome::kUnwritable:
            return console.Fail(kExitFile, "cannot write %s: %s", output,
                                platform::FileErrorText(result.error).c_str());
        case Outcome::kOutOfMemory:
            return console.Fail(kExitFile, "cannot convert %s: out of memory", input);
        case Outcome::kStopped:
            return console.FailForSignal(stopSignal);
        case Outcome::kFailed:
            break;
    }
    return console.Fail(kExitFile, "cannot write %s: %s", output, result.text.c_str());
}

}  // namespace

int RunToJpeg(const std::string& inputPath, const std::string& outputPath, const Console& console) {
    // A signal abandons the conversion between two rows: the unfinished file is removed
    // before the program ends.
    const TerminationFlag termination;
    const BitmapFileConversion result = ConvertBitmapFileToJpeg(
        inputPath, outputPath, 100, [&termination] { return termination.lastSignal() != 0; });
    return ReportConversion(result, inputPath, outputPath, termination.lastSignal(), console);
}
