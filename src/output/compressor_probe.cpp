#include "output/compressor_probe.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The folder temporary files go into: $TMPDIR, else /tmp.
std::string TemporaryRoot() {
    const char* root = std::getenv("TMPDIR");
    std::string folder = (root != nullptr && *root != '\0') ? root : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

}  // namespace

bool RecorderCodecUsesQuality(RecorderCodec codec) {
    return codec == RecorderCodec::MotionJpeg || codec == RecorderCodec::Mpeg4;
}

bool RecorderCodecHasKeyFrameInterval(RecorderCodec codec) {
    switch (codec) {
        case RecorderCodec::MicrosoftVideo1:
        case RecorderCodec::Ffv1:
        case RecorderCodec::Mpeg4:
        case RecorderCodec::H264:
            return true;
        case RecorderCodec::MotionJpeg:
        case RecorderCodec::UncompressedDib:
        case RecorderCodec::HuffYuv:
            return false;
    }
    return false;
}

IoResult ProbeCompressor(const RecorderCompressOptions& candidate, int width, int height) {
    if (width <= 0 || height <= 0) {
        width = kProbeDefaultWidth;
        height = kProbeDefaultHeight;
    }
    const std::string root = TemporaryRoot();
    std::string pattern = root + "/digital-microscope-probe-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        return IoResult(errno, root);
    }
    const std::string folder = name.data();
    const std::string file = folder + "/test.avi";

    IoResult result;
    {
        AviRecorder recorder;
        result = recorder.OpenRecording(file, width, height, kProbeFramesPerSecond, candidate);
        if (result.ok()) {
            result = recorder.CloseRecording().status;
        }
    }
    // The folder is this call's own: the only thing that can be in it is the probe file.
    ::unlink(file.c_str());
    ::rmdir(folder.c_str());
    return result;
}

IoResult ApplyChosenCompressor(RecorderCompressOptions& options,
                               const RecorderCompressOptions& candidate, int width, int height) {
    IoResult probed = ProbeCompressor(candidate, width, height);
    if (probed.ok()) {
        options = candidate;
    }
    return probed;
}

IoResult SetDefaultCompressor(RecorderCompressOptions& options, int width, int height) {
    const RecorderCompressOptions microsoftVideo1{RecorderCodec::MicrosoftVideo1, 0, 0};
    return ApplyChosenCompressor(options, microsoftVideo1, width, height);
}
