#pragma once

#include <optional>
#include <string>

#include "browser/media_item.h"
#include "output/picture_formats.h"
#include "platform/io_result.h"

// What the file commands do to captured files: save elsewhere and mark saved, delete, delete
// a whole storage folder, open in the desktop's program. Functions on paths only: they know
// nothing of the list or the window, show nothing, and may be called from any thread. They
// block on file-system calls. Error codes are errno values.

// Whether a file saved as `target` would land in `storageFolder` itself, where captures live
// (saving there is refused: "Can't save file to temp directory!!"). A subfolder of it, or
// another folder, is not. The folders are compared once resolved: the same folder reached
// through "//", "/./", ".." or a symbolic link counts as the same. Names are compared
// case-sensitively, as Linux file names are. A relative target counts from the current folder.
bool IsStorageFolderTarget(const std::string& target, const std::string& storageFolder);

// Writes the file `source` to `target`. When the target's last three characters are "jpg"
// (any case) and the source's are not, the source is read as a bitmap file and converted to
// JPEG (BitmapFileToJpeg). When the target ends in ".png", ".tif" or ".tiff" and the source
// in ".bmp" (any case), the bitmap is converted to that format with `metadata`
// (ConvertBitmapFile: where `metadata` has no scale or time, the bitmap's own are used).
// Otherwise the bytes are copied. Either way an existing target is
// replaced only once the new file is written whole: a failure leaves the old target as it
// was and no temporary file behind. The file is on the disk when this returns (a removable
// stick may be pulled then). A target that is a symbolic link is written through; a folder,
// device or FIFO in the target's place is never replaced.
// Fails, with a detail that completes "could not be saved as <target>: ":
//   EINVAL "it is the file being saved": target and source are one file (also through links);
//   the errno of reading the source: "<source> cannot be read: " and the system's words
//     (for a conversion: the bitmap reader's words, e.g. "not a bitmap file");
//   the errno of creating, writing, flushing or renaming the target: the system's words;
//   a conversion's other failures: its code with its words.
IoResult SaveFileAs(const std::string& source, const std::string& target,
                    const PictureMetadata& metadata = {});

// Marks the captured file `source` as saved on disk: renames it, in its own folder, to "A"
// followed by its name, and gives the new path. A name that already begins with an
// upper-case "A" is left as it is (nothing is renamed; the path comes back unchanged). The
// rename never replaces another file: EEXIST when the "A" name is taken. Otherwise fails with
// the errno of the rename, and the detail names the new path.
IoResultOf<std::string> MarkSavedOnDisk(const std::string& source);

// Save as, whole: SaveFileAs, then, only when the file was written, MarkSavedOnDisk. A
// failed copy leaves the source as it was, marked unsaved.
struct SaveAsResult {
    IoResult status;         // success, or why the copy or the mark failed
    bool written = false;    // the target was written; a failure then is the mark's
    std::string sourcePath;  // where the source lives afterwards
};
SaveAsResult SaveCapturedFileAs(const std::string& source, const std::string& target,
                                const PictureMetadata& metadata = {});

// Deletes a captured file: moves it to the desktop's trash (freedesktop.org layout: the home
// trash, or the trash folder at the top of the file's own file system) when that works, and
// deletes it outright when no trash can take it (no writable trash on that file system, e.g.
// a tmpfs). Fails with EISDIR for a folder (left alone), or with the errno of the delete;
// the file is then still there.
IoResult RemoveCapturedFile(const std::string& path);

// Delete All: removes every entry of `folder` except "." and ".." as RemoveCapturedFile
// does; sub-folders are left, and so is anything that cannot be removed.
void RemoveFolderEntries(const std::string& folder);

// Which storage folder Delete All empties for the selected file: by the text after the last
// "." of its path, compared exactly: "bmp", "BMP", "jpg", "JPG" give Pictures; "avi", "AVI"
// Videos; anything else ("Bmp", "jpeg", no ".") none.
std::optional<MediaKind> DeleteAllFolderFor(const std::string& selectedPath);

// Opens the file in the desktop's default program for its type: starts "xdg-open <path>"
// detached (an argument list, no shell), with a relative path made absolute first so that it
// can never read as an option. Fails with ENOENT when xdg-open cannot be started; what the
// program does with the file is not followed. Needs a Qt application object.
IoResult OpenExternally(const std::string& path);
