// A video in the file list may hold anything. Its bytes are written to a file and read back
// as the first frame of an AVI into a buffer the size of the viewer's image: nothing may
// crash, hang or write outside the buffer, and a frame that loads is a well-formed 24-bit DIB
// that fits in it.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "browser/picture_loader.h"
#include "output/packed_dib.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        std::string path = "/tmp/avi_first_frame_fuzzer.XXXXXX";
        return ::mkdtemp(path.data()) != nullptr ? path : std::string("/tmp");
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> image(kViewerImageBytes);
    const std::string path = Folder() + "/input.avi";
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return 0;
        }
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    if (LoadFirstVideoFrame(path, image).ok()) {
        const IoResultOf<DibLayout> layout = DescribePackedDib(image);
        if (!layout || layout->header.biBitCount != 24 || layout->header.biSize != 40 ||
            layout->rowsOffset != 40 || layout->header.biSizeImage != layout->imageBytes) {
            __builtin_trap();
        }
    }
    return 0;
}
