#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/io_result.h"

// Finishes an AVI file whose writing stopped part-way (the disk filled up, the file grew too
// large): cuts it back to `goodEndBytes`, the end of the last frame chunk that reached the
// disk whole, sets the sizes of the open RIFF and 'movi' lists that were never filled in, and
// adds an 'idx1' index of the frame chunks where the file is still in its first RIFF.
// `keyFrames` tells, in order, which of the frame chunks are key frames; chunks beyond it
// count as key frames. A file cut back still plays when the index does not fit: the index is
// best-effort, the cut and the sizes are not. Regular files only.
// Fails with the errno of reading or writing the file, or EINVAL when its start is not the
// RIFF/AVI layout this program's writer makes.
IoResult FinishCutShortAvi(const std::string& path, std::uint64_t goodEndBytes,
                           const std::vector<bool>& keyFrames);
