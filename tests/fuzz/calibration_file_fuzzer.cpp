// Feeds arbitrary bytes to the calibration store as its file, then asks it what a user's
// session asks: the calibrations of a device, the current one and the scale it gives.
#include <unistd.h>

#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "output/calibration.h"

namespace {

// One file for the whole run, in a private folder.
const std::string& FilePath() {
    static const std::string path = [] {
        char folder[] = "/tmp/dm-calibration-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/calibration.ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(FilePath().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written) {
        return 0;
    }
    CalibrationStore store(QString::fromStdString(FilePath()));
    (void)store.Load();
    for (const Calibration& calibration : store.ForDevice("usb#vid_eb1a&pid_1860&mi_00")) {
        const PictureScale scale = store.ScaleOf(calibration.device, calibration.name, {640, 480});
        if (scale.valid() && !(scale.xMicrometresPerPixel > 0 && scale.yMicrometresPerPixel > 0)) {
            __builtin_trap();
        }
        (void)LengthText(LineMicrometres({0, 0}, {639, 479}, scale));
    }
    (void)store.Current("usb#vid_eb1a&pid_1860&mi_00");
    return 0;
}
