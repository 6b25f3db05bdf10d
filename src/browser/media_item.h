#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Which list the file list shows.
enum class MediaKind : int { Videos = 0, Pictures = 1 };

// The flags of a MediaItem.
namespace itemflag {
inline constexpr std::uint32_t kValid = 1;
inline constexpr std::uint32_t kUnsaved = 2;   // never saved elsewhere
inline constexpr std::uint32_t kSelected = 4;  // the selected item of its list
}  // namespace itemflag

// One captured file in the file list.
struct MediaItem {
    std::string path;
    std::uint32_t flags = itemflag::kValid | itemflag::kUnsaved;
};

// The part of `path` after its last '/'.
std::string_view FileNameOf(std::string_view path);

// The folder part of `path`: everything before its last '/' ("" when there is none).
std::string_view FolderOf(std::string_view path);

// A saved file's name starts with an upper-case "A"; an item shows the unsaved corner mark
// when it is flagged unsaved and its name does not.
bool ShowsUnsavedMark(const MediaItem& item);

// File-name order with runs of digits compared as numbers ("StillCap2.bmp" before
// "StillCap10.bmp"); otherwise byte order, so the order is total and stable.
bool NaturalNameLess(std::string_view a, std::string_view b);

// The size of the viewer's picture record and of the largest picture the file list and the
// viewer read: a packed DIB, header, colour table and rows.
inline constexpr std::size_t kViewerImageBytes = 5'242'880;
