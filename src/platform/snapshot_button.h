#pragma once

#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

// The microscope's own snapshot button, as the main window uses it: created, opened once,
// polled about once a second, closed once before it is destroyed. UI thread.
class SnapshotButtonLibrary {
public:
    virtual ~SnapshotButtonLibrary() = default;
    // Nonzero when the device could be opened.
    virtual int OpenInterface() = 0;
    // Called once before an opened instance is destroyed.
    virtual void CloseInterface() = 0;
    // 1 when the button was pressed since the last call, else 0.
    virtual int IsButtonPressed() = 0;
    // The camera key reached the focused window. Counts as a press where the button cannot
    // be read from the device itself; ignored where it can (the same press arrives there).
    virtual void NoteCameraKey() = 0;
};

// The snapshot button of the row-0 microscope (USB vendor eb1a, product 1860), read from the
// Linux input device its driver creates: an event node under the same USB device that
// reports KEY_CAMERA. It is the device library the main window opens for that microscope.
// Files are found under `sysRoot` ("<sysRoot>/sys", "<sysRoot>/dev"), so tests can give a
// tree of their own.
class EvdevSnapshotButton final : public SnapshotButtonLibrary {
public:
    explicit EvdevSnapshotButton(std::string sysRoot = "/");
    ~EvdevSnapshotButton() override;
    EvdevSnapshotButton(const EvdevSnapshotButton&) = delete;
    EvdevSnapshotButton& operator=(const EvdevSnapshotButton&) = delete;

    // Nonzero when a USB device eb1a:1860 is present. Then looks for its KEY_CAMERA input
    // node and opens it (read-only, non-blocking); when there is none, or it may not be
    // opened (ordinary users usually may not), the camera key of the focused window stands
    // in for the button.
    int OpenInterface() override;
    void CloseInterface() override;
    // Reads every pending input event without blocking: 1 when a KEY_CAMERA press (value 1)
    // came since the last call, or, without an input node, when NoteCameraKey was called
    // since the last call. A read error (the device was unplugged) closes the node and
    // reports no press.
    int IsButtonPressed() override;
    void NoteCameraKey() override;

    // The input event node in use ("<sysRoot>/dev/input/event5"); empty without one.
    const std::string& inputNode() const { return inputNode_; }

private:
    std::string sysRoot_;
    bool open_ = false;
    std::string inputNode_;
    UniqueFd input_;
    // The start of an event record whose rest has not arrived yet; the next read goes on
    // after it, so records stay aligned.
    std::string partialRecord_;
    bool keyNoted_ = false;
};

}  // namespace platform
