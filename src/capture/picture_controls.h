#pragma once

// The picture properties and the video norm as the settings dialog and the command line
// work them: the property table, the rules for the norm and the resolution choices, and the
// channel that carries property changes to the device without making its caller wait.

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/hresult.h"
#include "capture/media_backend.h"
#include "media/frame_size.h"

class CaptureEngine;

// One picture property as the dialog and the command line show it.
struct PicturePropertyRow {
    const char* name = "";   // the English name, also the text key: "Brightness"
    int property = 0;        // PictureProperty number
    bool available = false;  // the device offers it: its range and value were read
    PropertyRange range;
    int value = 0;
};

inline constexpr int kPicturePropertyRows = 6;
// Rows in the dialog's order: brightness, contrast, saturation, sharpness, gamma, hue.
using PicturePropertyTable = std::array<PicturePropertyRow, kPicturePropertyRows>;

// The six rows with their names and properties, nothing read.
PicturePropertyTable MakePicturePropertyTable();
// Reads every row's range and value from the device (two or three requests a row); a row
// whose range or value cannot be read is left unavailable.
void ReadPictureProperties(DeviceControls& controls, PicturePropertyTable& table);
// The row whose name is `name` in any case ("brightness"), or -1.
int FindPicturePropertyRow(const PicturePropertyTable& table, std::string_view name);

// The norm a library device starts the dialog with: the device's norm is read; one that reads
// as neither NTSC M nor PAL B is switched to PAL B. Returns kNormNtscM or kNormPalB as the
// dialog lists it (kNormNtscM when the norm cannot be read). Blocks as CaptureEngine::SetNorm.
int SettleLibraryNorm(CaptureEngine& engine);

// The resolution choices of the dialog's list: for a library device 320x240, 640x480 and
// 720x480 (NTSC M) or 720x576 (other norms); for a camera 320x240, 640x480 and 1280x1024.
std::vector<std::string> ResolutionChoiceTexts(bool libraryDevice, int norm);
FrameSize ResolutionChoiceSize(int item, bool libraryDevice, int norm);
// The item that shows a frame `width` wide.
int ResolutionChoiceFor(int width, bool libraryDevice);
inline constexpr int kResolutionChoices = 3;

// What became of one value the channel sent.
struct SentPictureProperty {
    int property = 0;
    int requested = 0;         // the value asked for
    HResult result = hr::kOk;  // the device's answer to it
    bool readBack = false;     // the value could be read afterwards
    int value = 0;             // what the device holds now, when read back
};

// Carries picture property values to a device on a thread of its own. A USB control transfer
// takes milliseconds to tens of milliseconds (seconds when the device does not answer), so a
// slider dragged across its range asks for far more values than the device can take: each
// property holds at most one value waiting, a newer one replacing it, and at most one
// transfer is in flight at a time. After each transfer the value is read back; the answers
// wait in the channel until the owner takes them.
//
// Threads: Send, TakeSent and the destructor on the owner's thread (the UI thread);
// `onSent` runs on the channel's thread after each answer was queued (it should only wake the
// owner), never after the destructor returned. Blocking: Send and TakeSent never wait for the
// device; the destructor waits for the transfer in flight and the values still waiting.
class PictureControlChannel {
public:
    PictureControlChannel(std::unique_ptr<DeviceControls> controls, std::function<void()> onSent);
    // Sends what still waits, then stops the thread.
    ~PictureControlChannel();
    PictureControlChannel(const PictureControlChannel&) = delete;
    PictureControlChannel& operator=(const PictureControlChannel&) = delete;

    // Queues `value` for `property` (0..5), replacing a value of the property still waiting.
    void Send(int property, int value);
    // The answers that came in since the last call, oldest first.
    std::vector<SentPictureProperty> TakeSent();

private:
    void Run();

    std::unique_ptr<DeviceControls> controls_;
    std::function<void()> onSent_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::array<std::optional<int>, kPicturePropertyRows> waiting_;  // by property number
    std::vector<SentPictureProperty> answers_;
    bool stopping_ = false;
    std::thread thread_;
};
