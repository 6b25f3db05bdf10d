// CapConfig.dat comes from disk and may hold anything. Its bytes go through the loader into
// the capture engine's preparation (on the scripted backend, which takes any format it is
// given), a frame of the resulting size through the frame callback, and a still through the
// still writer: none of it may crash, overflow or write outside a buffer.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../capture/fake_media_backend.h"
#include "capture/capture_engine.h"
#include "capture/capture_settings.h"
#include "output/still_file.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        std::string path = "/tmp/capture_config_fuzzer.XXXXXX";
        return ::mkdtemp(path.data()) != nullptr ? path : std::string("/tmp");
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string config = Folder() + "/CapConfig.dat";
    {
        FILE* file = std::fopen(config.c_str(), "wb");
        if (file == nullptr) {
            return 0;
        }
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }

    testsupport::FakeMediaBackend backend;
    backend.devices = {testsupport::FakeMediaBackend::Device(
        size % 2 == 0 ? "usb#vid_eb1a&pid_1860#x" : "usb#vid_eb1a&pid_1760&mi_00#x", "D", "d")};
    backend.stillPin = size % 3 == 0;
    CaptureEngine engine(backend);
    engine.SetCapConfigPath(config);
    engine.CreateDeviceEnumerator();
    if (engine.DiscoverDevices() != 1 || engine.BuildGraph() != 1 || engine.PreparePreview() != 1 ||
        engine.RunGraph() != 1) {
        return 0;
    }

    // A frame as long as the header says, within reason.
    GrabberCallback* live =
        backend.callback[0] != nullptr ? backend.callback[0] : backend.callback[1];
    if (live == nullptr) {
        return 0;
    }
    const int width = engine.frameCallback().width();
    const int height = engine.frameCallback().height();
    const std::uint64_t bytes = width > 0 && height > 0 ? std::uint64_t{BgrRowBytes(width)} *
                                                              static_cast<std::uint64_t>(height)
                                                        : 16;
    const std::vector<std::uint8_t> frame(
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 1u << 20)), 7);
    live->BufferCB(0.0, frame.data(), frame.size());

    LatestFrame& latest = engine.latestFrame();
    const BitmapInfoHeader header = latest.Header();
    StillWriter writer(Folder());
    const std::vector<std::uint8_t> still = latest.BottomUpBytes(header.biSizeImage);
    if (writer.SaveStillBitmap(StillFrame{still.data(), header.biSizeImage, still.size(),
                                          header.biWidth, header.biHeight})) {
        ::unlink(writer.stillFileName().c_str());
    }
    engine.SetResolution(640, 480);
    return 0;
}
