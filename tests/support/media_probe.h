#pragma once

#include <map>
#include <string>

// What FFmpeg's own tools read from a media file, for tests that check files we write.
namespace testsupport {

// What a shell command prints on its standard output.
std::string RunCommand(const std::string& command);
// The first video stream's fields as ffprobe reads them: codec_name, codec_tag_string,
// r_frame_rate, nb_frames, duration.
std::map<std::string, std::string> ProbeVideo(const std::string& path);
// What a full decode with ffmpeg complains about; empty for a clean file.
std::string DecodeErrors(const std::string& path);
// How many frames ffmpeg decodes from the first video stream.
int DecodedFrames(const std::string& path);
// "<width> x <height>" of the JPEG file as djpeg decodes it, or djpeg's complaint.
std::string DjpegSize(const std::string& path);

}  // namespace testsupport
