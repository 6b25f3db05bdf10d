#pragma once

// Reading video4linux nodes straight from sysfs, for systems where udev tells nothing (no
// udevd in containers and CI) and for tests, which build a sysfs tree of their own under a
// temporary root.

#include <string>
#include <string_view>
#include <vector>

#include "platform/video_device_ids.h"

namespace platform {

// Whether nodes whose capabilities nobody has told are opened and asked.
enum class NodeProbe { AskUndescribedNodes, SysfsOnly };

// `path` under `root`: "/dev/video0" under "/" stays as it is, under "/tmp/x" it becomes
// "/tmp/x/dev/video0".
std::string PathUnderRoot(std::string_view root, std::string_view path);

// One sysfs attribute file as text without the trailing newline and blanks; empty when it
// cannot be read (missing, a directory, no permission). Reads at most 4 KiB.
std::string ReadAttributeFile(const std::string& path);

// Opens `nodeFile` (never blocking, read-only) and fills `record.capture` and
// `record.cardName` from VIDIOC_QUERYCAP. Leaves the record as it is when the file cannot be
// opened, is no character device or no V4L2 device.
void ProbeVideoNode(const std::string& nodeFile, VideoNodeRecord& record);

// Describes every entry of <root>/sys/class/video4linux. Device paths in the records are
// relative to <root>/sys ("/devices/..."), node paths lie under `root`. False when
// <root>/sys cannot be read at all; true with no records when the class is missing (no
// video4linux driver is loaded). Entries whose link leads nowhere or out of sysfs are skipped.
// With NodeProbe::AskUndescribedNodes each "videoN" node is asked with ProbeVideoNode.
bool ReadSysfsVideoNodes(const std::string& root, NodeProbe probe,
                         std::vector<VideoNodeRecord>& records);

}  // namespace platform
