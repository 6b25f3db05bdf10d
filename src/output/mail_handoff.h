#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/io_result.h"

class QObject;

// Handing a captured file to the desktop's mail program as the attachment of a new message:
// a bitmap is first converted into a small JPEG file in a private temporary folder; the
// hand-off itself is "xdg-email --attach FILE". UI thread.

// The fixed texts of a failed preparation, each followed by a line with the system's reason.
inline constexpr const char* kMailFolderFail = "the TemFolder create Fail";
inline constexpr const char* kMailImageFail = "image Create fail";
inline constexpr const char* kMailCompressFail = "Compress fail";
// The name a converted bitmap is attached under.
inline constexpr const char* kMailPictureName = "Cap.jpg";

// The files made for e-mail: a private folder, made with mkdtemp when a bitmap is first sent,
// under $XDG_RUNTIME_DIR, else the user's cache folder ($XDG_CACHE_HOME, else ~/.cache),
// else /tmp. The file of one send stays until the next send prepares (the mail program reads
// it after the hand-off has returned); the folder goes with everything in it when the holder
// is destroyed.
class MailAttachments {
public:
    MailAttachments() = default;
    ~MailAttachments();
    MailAttachments(const MailAttachments&) = delete;
    MailAttachments& operator=(const MailAttachments&) = delete;

    // The file to attach for the selected file `selected`, after removing the previous send's
    // temporary file. When the text after the last "." of the path is exactly "bmp", the
    // bitmap is converted to "<folder>/Cap.jpg" (BitmapFileToJpeg); anything else, an
    // upper-case ".BMP" too, is attached as it is. Fails, with the detail "<fixed text>\n<why>",
    // with the errno of: making the folder (kMailFolderFail), reading the bitmap
    // (kMailImageFail), writing the JPEG file (kMailCompressFail). No file is left then.
    IoResultOf<std::string> Prepare(const std::string& selected);

    // The private folder; empty until one was made.
    const std::string& folder() const { return folder_; }

private:
    IoResult MakeFolder();

    std::string folder_;
};

// How a hand-off ended.
enum class MailStatus {
    Complete,      // the mail program has the file
    NotInstalled,  // xdg-email could not be started
    NoProgram,     // xdg-email found no mail program
    Failed,        // anything else; MailOutcome::reason says what
};

struct MailOutcome {
    MailStatus status = MailStatus::Complete;
    std::string reason;  // for Failed: why, in words for a user
};

// The outcome of xdg-email's end: exit status 0 Complete, 3 NoProgram; 1, 2 (the file is
// missing), 4, 5 (the file cannot be read), any other status and a crash Failed.
MailOutcome MailOutcomeOfExit(bool crashed, int exitStatus);

// How long xdg-email may take: it may start the mail program in its own process and wait
// for it.
inline constexpr std::chrono::milliseconds kMailTimeout{60'000};

// Starts "xdg-email --attach <attachment>" (found on PATH; an argument list, no shell;
// standard input /dev/null, output passed on) and returns at once. `done` runs once, on the
// UI thread, with the outcome, unless `context` is destroyed first. After `timeout` the
// outcome is Failed ("no answer within N seconds"); the process is then left running,
// since it may have become the mail program the user now writes in, and is cleaned up when
// it ends.
void StartMailHandOff(const std::string& attachment, QObject* context,
                      std::function<void(const MailOutcome&)> done,
                      std::chrono::milliseconds timeout = kMailTimeout);
