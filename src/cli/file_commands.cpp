#include "cli/file_commands.h"

#include <cerrno>
#include <cstring>

#include "output/jpeg_codec.h"

namespace {

// Why a bitmap file could not be loaded, in words (see LoadBitmapFile for the codes).
const char* BitmapLoadText(int error) {
    switch (error) {
        case EINVAL:
            return "not a bitmap file, or a damaged one";
        case ENOTSUP:
            return "a compressed or bit-field bitmap, which cannot be converted";
        default:
            return std::strerror(error);
    }
}

}  // namespace

int RunToJpeg(const std::string& inputPath, const std::string& outputPath, const Console& console) {
    std::string conversionError;
    const std::int32_t loadError = BitmapFileToJpeg(inputPath, outputPath, &conversionError);
    if (loadError != 0) {
        return console.Fail(kExitFile, "cannot read %s: %s", inputPath.c_str(),
                            BitmapLoadText(loadError));
    }
    if (conversionError.starts_with(kCannotOpen)) {
        return console.Fail(kExitFile, "cannot create %s (is its folder there and writable?)",
                            outputPath.c_str());
    }
    if (!conversionError.empty()) {
        return console.Fail(kExitFile, "cannot write %s: %s", outputPath.c_str(),
                            conversionError.c_str());
    }
    return kExitSuccess;
}
