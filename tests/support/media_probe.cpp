#include "support/media_probe.h"

#include <cstdio>
#include <sstream>

namespace testsupport {

std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[65536];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            out.append(chunk, n);
        }
        pclose(pipe);
    }
    return out;
}

std::map<std::string, std::string> ProbeVideo(const std::string& path) {
    std::istringstream lines(
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                   "stream=codec_name,codec_tag_string,r_frame_rate,nb_frames,"
                   "duration -of default=noprint_wrappers=1 '" +
                   path + "' 2>&1"));
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return fields;
}

std::string DecodeErrors(const std::string& path) {
    return RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

int DecodedFrames(const std::string& path) {
    const std::string count = RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames -of csv=p=0 '" +
        path + "'");
    try {
        return std::stoi(count);
    } catch (...) {
        return -1;
    }
}

std::string DjpegSize(const std::string& path) {
    const std::string header = RunCommand("djpeg -pnm '" + path + "' 2>&1 | head -c 32");
    unsigned width = 0;
    unsigned height = 0;
    if (std::sscanf(header.c_str(), "P6\n%u %u\n255\n", &width, &height) != 2) {
        return header;
    }
    return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace testsupport
