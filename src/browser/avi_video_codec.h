#pragma once

#include <string>

// The four-character code of the first video stream of the AVI file at `path`, read from its
// header as GStreamer's AVI demuxer reads it: the stream format's compression, or the stream
// header's handler when the compression is 0 (uncompressed), or "DIB " when that is 0 too.
// "" when the file cannot be read, is not an AVI file, or holds no video stream in its first
// 64 KiB. Any thread.
std::string AviVideoCodec(const std::string& path);

// Whether frames with this code are JPEG pictures (Motion JPEG), case ignored.
bool IsMotionJpegCodec(const std::string& fourcc);
