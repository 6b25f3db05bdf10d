#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/frame_size.h"
#include "media/picture_properties.h"
#include "media/video_norms.h"

// A simulated USB microscope: a whole device (identity, formats, norms, inputs, picture
// properties, snapshot button, optional still pin, plug state) whose frames are a slowly
// moving procedural specimen in 16-bit YUY2, like the real devices deliver.
namespace sim {

// The two kinds of device the program supports. The value is the kind's row in the
// program's identity table.
enum class Kind { Microscope = 0, Camera = 1 };

// Property numbers: 0 brightness, 1 contrast, 2 hue, 3 saturation, 4 sharpness, 5 gamma.
inline constexpr int kPropertyCount = 6;

struct Options {
    Kind kind = Kind::Microscope;
    // A second output that delivers one frame each time the snapshot button is pressed.
    bool stillPin = false;
    // Frames carry their index as a code in their top rows (see WriteFrameIndex), so that
    // tests can tell which frame a still or a recording holds. Off unless asked for: users
    // would take the black and white strip for a fault.
    bool frameIndexCode = false;
    // Where the device keeps its picture property values and its norm while it stays plugged
    // in (see state_file.h): read when the device is made, written on every change, removed
    // when it is unplugged. Empty keeps nothing beyond the object's life.
    std::string stateFile = {};
};

// Receives the frames of a stream. Called on the stream's own thread, never two calls at
// once, never after the stream object is destroyed.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // One frame of the main output: `width` x `height` YUY2, rows top-down, 2 * width bytes
    // per row without padding. `index` counts from 0 in the device's life (not per stream).
    virtual void OnFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width, int height,
                         std::uint64_t index, std::int64_t timestampNanoseconds) = 0;
    // One frame of the still output (only with Options::stillPin), after a button press.
    virtual void OnStillFrame(const std::uint8_t* yuy2, std::size_t sizeBytes, int width,
                              int height, std::uint64_t index,
                              std::int64_t timestampNanoseconds) = 0;
    // The device was unplugged: no frame follows.
    virtual void OnUnplugged() = 0;
};

// A running stream. Destroying it stops the stream and returns once no sink call runs.
class Stream {
public:
    virtual ~Stream() = default;
};

// The name of a stream's thread, as /proc/self/task/<id>/comm shows it.
inline constexpr char kStreamThreadName[] = "sim-stream";

// Thread-safe: every method may be called from any thread.
class SimulatedMicroscope {
public:
    explicit SimulatedMicroscope(Options options);
    ~SimulatedMicroscope();
    SimulatedMicroscope(const SimulatedMicroscope&) = delete;
    SimulatedMicroscope& operator=(const SimulatedMicroscope&) = delete;

    Kind kind() const;
    bool hasStillPin() const;

    // "Simulated Microscope".
    std::string friendlyName() const;
    // The USB identity of the kind followed by a simulated path, lower case:
    // "usb#vid_eb1a&pid_1860&mi_00#simulated/video0" (row 0),
    // "usb#vid_eb1a&pid_1760&mi_00#simulated/video0" (row 1).
    std::string devicePath() const;
    // Equal while the device stays plugged; new after each Unplug/Plug.
    std::string identity() const;
    // Hardware ids in the form "USB\VID_EB1A&PID_1860&REV_0100", "USB\VID_EB1A&PID_1860",
    // "USB\VID_EB1A&PID_1860&REV_0100&MI_00", "USB\VID_EB1A&PID_1860&MI_00"; empty while
    // unplugged.
    std::vector<std::string> HardwareIds() const;

    // Plug state. Unplugging ends a running stream (the sink hears OnUnplugged) and, as on a
    // real device, puts the norm and the picture properties back to their defaults.
    bool plugged() const;
    void Plug();
    void Unplug();
    // Called after every change of the plug state, with the new state, on the thread that
    // changed it. Setting another observer (or none) returns once no call to the old one
    // runs.
    void SetPlugObserver(std::function<void(bool plugged)> observer);

    // Formats: the frame sizes of the kind, smallest first; the default frame rate.
    std::vector<FrameSize> FrameSizes() const;
    bool SupportsSize(int width, int height) const;
    static constexpr int kFramesPerSecond = 30;

    // Norms (row 0 only: NTSC M and PAL B; a camera has none and Get/SetNorm fail). A change
    // made while plugged in is kept in the state file.
    std::vector<int> Norms() const;
    bool GetNorm(int& norm) const;
    bool SetNorm(int norm);

    // Video inputs by name: two on row 0 ("Composite", "S-Video"), one on row 1 ("Camera").
    std::vector<std::string> Inputs() const;

    // Picture properties: all six on both kinds; they visibly change the picture.
    // False for an unknown property number; Set clamps to the range. A change made while
    // plugged in is kept in the state file.
    bool GetPropertyRange(int property, PropertyRange& range) const;
    bool GetProperty(int property, int& value) const;
    bool SetProperty(int property, int value);

    // The snapshot button. A press is latched until read with TakeButtonPress (which returns
    // 1 once per press, else 0); with a still pin a running stream also delivers one frame
    // through OnStillFrame.
    void PressButton();
    int TakeButtonPress();

    // Starts a stream of `size` at `framesPerSecond` (1..60) on a thread of its own, named
    // kStreamThreadName. nullptr when unplugged, the size is not offered, or a stream already
    // runs.
    std::unique_ptr<Stream> Start(FrameSize size, int framesPerSecond, FrameSink& sink);

    // Renders frame `index` at `size` with the current properties into `yuy2`
    // (2 * width * height bytes, top-down, unpadded), with the frame index code when the
    // options ask for it.
    void RenderFrame(std::uint64_t index, FrameSize size, std::uint8_t* yuy2) const;

private:
    void NotifyPlugState(bool plugged);

    struct State;
    std::shared_ptr<State> state_;
};

// The frame index code in the top row: 32 bits, most significant first, each bit a cell of
// kIndexCellPixels pixels, white (luma 235) for 1 and black (luma 16) for 0, neutral chroma.
// Needs a width of at least 32 * kIndexCellPixels pixels.
inline constexpr int kIndexCellPixels = 8;
void WriteFrameIndex(std::uint8_t* yuy2TopRow, int width, std::uint32_t index);
// Reads the code back from the top row of a converted picture: `bgrRow` is 3 bytes a pixel,
// blue-green-red. nullopt when the row is too narrow or a cell is neither dark nor light.
std::optional<std::uint32_t> ReadFrameIndexBgr(const std::uint8_t* bgrRow, int width);

}  // namespace sim
