#include "cli/device_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/debug_trace.h"
#include "app/text_table.h"
#include "capture/capture_session.h"
#include "capture/capture_settings.h"
#include "capture/frame_buffer.h"
#include "capture/picture_controls.h"
#include "media/frame_size.h"
#include "media/video_norms.h"
#include "output/still_file.h"
#include "platform/regular_files.h"

namespace {

int WaitFailure(const CommandSession& session, WaitResult result, const char* what,
                const Console& console) {
    if (result == WaitResult::Interrupted) {
        return console.FailForSignal(session.interruptSignal());
    }
    const double seconds = static_cast<double>(session.frameTimeout().count()) / 1000.0;
    return console.Fail(kExitNoDevice, "the device delivered no %s within %g seconds", what,
                        seconds);
}

int ConnectOrFail(CommandSession& session, const Console& console) {
    switch (session.Connect()) {
        case ConnectResult::Streaming:
            return kExitSuccess;
        case ConnectResult::NoDevice:
            return console.Fail(kExitNoDevice, "no supported microscope was found");
        case ConnectResult::NotStarted:
            break;
    }
    const CaptureDeviceEntry* entry = session.engine().CurrentEntry();
    return console.Fail(kExitNoDevice, "the microscope \"%s\" was found but could not be started",
                        entry != nullptr ? entry->friendlyName.c_str() : "");
}

// Connects and waits for the first frame, so that the first still has a picture to save.
int StartStreaming(CommandSession& session, const Console& console) {
    if (const int code = ConnectOrFail(session, console); code != kExitSuccess) {
        return code;
    }
    const WaitResult first = session.WaitForNewFrame();
    return first == WaitResult::Done ? kExitSuccess
                                     : WaitFailure(session, first, "picture", console);
}

int ReportStill(const SavedStill& saved, const Console& console) {
    if (saved.written) {
        console.Print("%s\n", saved.path.c_str());
        // A path that cannot be printed ends the series: nobody would learn of the rest. The
        // caller reports the output's failure.
        return console.outError == 0 ? kExitSuccess : kExitFile;
    }
    if (saved.error == EINVAL) {
        return console.Fail(kExitNoDevice, "the device delivered a picture that cannot be saved");
    }
    return console.Fail(kExitFile, "cannot write %s: %s", saved.path.c_str(),
                        std::strerror(saved.error));
}

// How long the wait for a start time trusts the monotonic clock before it reads the wall
// clock again: the monotonic clock stands still while the machine sleeps, and the wall clock
// may be set.
constexpr std::chrono::milliseconds kStartWaitSlice{250};

bool StartHasPassed(std::chrono::system_clock::time_point start,
                    std::chrono::system_clock::time_point now) {
    using std::chrono::floor;
    using std::chrono::seconds;
    return floor<seconds>(start) < floor<seconds>(now);
}

// Waits until the wall clock reaches `start`, reading it again after each slice of at most
// kStartWaitSlice (the last slice ends at the start); a signal ends the wait as it ends the
// session's other waits.
WaitResult WaitForStart(CommandSession& session, std::chrono::system_clock::time_point start,
                        const WallClock& wallClock) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(start - wallClock());
        if (left.count() <= 0) {
            return WaitResult::Done;
        }
        if (session.Pause(std::min(left, kStartWaitSlice)) != WaitResult::Done) {
            return WaitResult::Interrupted;
        }
    }
}

int TakeStills(CommandSession& session, const SnapOptions& options, const Console& console) {
    const std::chrono::milliseconds interval(options.intervalMs);
    auto due = std::chrono::steady_clock::now();
    for (int taken = 0; taken < options.count; ++taken) {
        if (taken > 0) {
            // Requests keep to the interval from the first one (one that comes late moves the
            // rest back rather than making them catch up); each waits for a frame newer than
            // the last still, so no two stills hold the same frame.
            const auto now = std::chrono::steady_clock::now();
            due = std::max(due + interval, now);
            const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(due - now);
            WaitResult wait = remaining.count() > 0 ? session.Pause(remaining) : WaitResult::Done;
            if (wait == WaitResult::Done) {
                wait = session.WaitForNewFrame();
            }
            if (wait != WaitResult::Done) {
                return WaitFailure(session, wait, "picture", console);
            }
        }
        const WaitResult wait = session.TakeStill();
        for (const SavedStill& saved : session.TakeSavedStills()) {
            if (const int code = ReportStill(saved, console); code != kExitSuccess) {
                return code;
            }
        }
        if (wait != WaitResult::Done) {
            return WaitFailure(session, wait, "still", console);
        }
    }
    return kExitSuccess;
}

}  // namespace

int RunList(CommandSession& session, const Console& console) {
    const bool selected = session.Discover();
    const CaptureEngine& engine = session.engine();
    for (int index = 0; index < engine.deviceCount(); ++index) {
        const CaptureDeviceEntry& entry = engine.DeviceList()[static_cast<std::size_t>(index)];
        if (!entry.moniker) {
            continue;
        }
        const std::string row = entry.identityRow >= 0 ? std::to_string(entry.identityRow) : "-";
        console.Print("%d\t%s\t%s%s\n", index,
                      entry.friendlyName.empty() ? "-" : entry.friendlyName.c_str(), row.c_str(),
                      entry.isCurrent != 0 ? "\t*" : "");
    }
    if (selected) {
        return kExitSuccess;
    }
    return console.Fail(kExitNoDevice, engine.deviceCount() == 0
                                           ? "no video device was found"
                                           : "none of these is a supported microscope");
}

int RunSnap(CommandSession& session, StillWriter& writer, const SnapOptions& options,
            const Console& console) {
    if (options.start && StartHasPassed(*options.start, options.wallClock())) {
        return console.Fail(kExitUsage, "%s",
                            TextEntryFor(TextId::TimeLapseSetTimerFail).defaultText);
    }
    session.SetStillWriter(&writer, options.output);
    // The device runs while the start is awaited, so the first still has a picture.
    int code = StartStreaming(session, console);
    if (code == kExitSuccess && options.start) {
        if (const WaitResult wait = WaitForStart(session, *options.start, options.wallClock);
            wait != WaitResult::Done) {
            code = WaitFailure(session, wait, "picture", console);
        }
    }
    if (code == kExitSuccess) {
        code = TakeStills(session, options, console);
    }
    session.SetStillWriter(nullptr);
    return code;
}

namespace {

// The sizes the settings dialog offers for the device kind.
std::vector<FrameSize> OfferedSizes(int libraryDeviceMode) {
    if (libraryDeviceMode == 1) {
        return {{320, 240}, {640, 480}, {720, 480}, {720, 576}};
    }
    return {{320, 240}, {640, 480}, {1280, 1024}};
}

std::string SizeList(const std::vector<FrameSize>& sizes) {
    std::string list;
    for (const FrameSize& size : sizes) {
        list += (list.empty() ? "" : ", ") + std::to_string(size.width) + "x" +
                std::to_string(size.height);
    }
    return list;
}

}  // namespace

int RunResolution(CommandSession& session, const std::string& capConfigPath, int width, int height,
                  const Console& console) {
    if (const int code = ConnectOrFail(session, console); code != kExitSuccess) {
        return code;
    }
    CaptureEngine& engine = session.engine();
    const std::vector<FrameSize> offered = OfferedSizes(engine.libraryDeviceMode());
    if (std::none_of(offered.begin(), offered.end(), [&](const FrameSize& size) {
            return size.width == width && size.height == height;
        })) {
        return console.Fail(kExitUsage, "the device does not offer %dx%d; it offers %s", width,
                            height, SizeList(offered).c_str());
    }
    // What was kept before, to put back if the device refuses the new size.
    CaptureSettings kept;
    const bool hadKept = LoadCapConfig(capConfigPath, kept).ok();
    const HResult result = engine.SetResolution(width, height);
    session.MarkFramesSeen();
    if (const WaitResult wait = session.WaitForNewFrame(); wait != WaitResult::Done) {
        return WaitFailure(session, wait, "picture", console);
    }
    const BitmapInfoHeader frame = engine.latestFrame().Header();
    CaptureSettings stored;
    if (!LoadCapConfig(capConfigPath, stored) || stored.biWidth != width ||
        stored.biHeight != height) {
        return console.Fail(
            kExitFile, "cannot write %s: %s", capConfigPath.c_str(),
            platform::FileErrorText(engine.capConfigError() != 0 ? engine.capConfigError() : EIO)
                .c_str());
    }
    if (Failed(result) || frame.biWidth != width || frame.biHeight != height) {
        if (hadKept) {
            // Putting the older record back is all that can be done; its failure changes
            // nothing in what is reported.
            static_cast<void>(SaveCapConfig(capConfigPath, kept));
        } else {
            std::remove(capConfigPath.c_str());
        }
        return console.Fail(kExitUsage, "the device does not take %dx%d; it delivers %dx%d", width,
                            height, frame.biWidth, frame.biHeight);
    }
    console.Print("%dx%d\n", frame.biWidth, frame.biHeight);
    return kExitSuccess;
}

namespace {

const char* DeviceName(const CaptureEngine& engine) {
    const CaptureDeviceEntry* entry = engine.CurrentEntry();
    return entry != nullptr ? entry->friendlyName.c_str() : "";
}

void PrintPropertyHeader(const Console& console) {
    console.Print("name\tminimum\tmaximum\tdefault\tvalue\n");
}

void PrintProperty(const PicturePropertyRow& row, const Console& console) {
    console.Print("%s\t%d\t%d\t%d\t%d\n", PropertyOptionName(row).c_str(), row.range.minimum,
                  row.range.maximum, row.range.defaultValue, row.value);
}

// The one fault of `settings` against the device's table, in the order given; "" when every
// value is one the device offers.
std::string SettingFault(const PicturePropertyTable& table,
                         const std::vector<PropertySetting>& settings) {
    for (const PropertySetting& setting : settings) {
        const PicturePropertyRow& row = table[static_cast<std::size_t>(setting.row)];
        const std::string name = PropertyOptionName(row);
        if (!row.available) {
            return "the microscope has no " + name;
        }
        if (setting.value < row.range.minimum || setting.value > row.range.maximum) {
            return name + " takes " + std::to_string(row.range.minimum) + " to " +
                   std::to_string(row.range.maximum) + ", not " + setting.text;
        }
    }
    return {};
}

std::string NormWord(int norm) {
    if (norm == kNormNtscM) {
        return "ntsc";
    }
    if (norm == kNormPalB) {
        return "pal";
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%#x", static_cast<unsigned>(norm));
    return hex;
}

}  // namespace

int RunProperties(CommandSession& session, const std::vector<PropertySetting>& settings,
                  const Console& console) {
    if (!session.Discover()) {
        return console.Fail(kExitNoDevice, "no supported microscope was found");
    }
    CaptureEngine& engine = session.engine();
    const CaptureDeviceEntry* entry = engine.CurrentEntry();
    std::unique_ptr<DeviceControls> controls;
    if (entry != nullptr && entry->moniker) {
        controls = engine.backend().OpenControls(*entry->moniker);
    }
    if (!controls) {
        return console.Fail(kExitNoDevice,
                            "the microscope \"%s\" was found but its controls cannot be opened",
                            DeviceName(engine));
    }
    PicturePropertyTable table = MakePicturePropertyTable();
    ReadPictureProperties(*controls, table);
    if (settings.empty()) {
        PrintPropertyHeader(console);
        for (const PicturePropertyRow& row : table) {
            if (row.available) {
                PrintProperty(row, console);
            }
        }
        return kExitSuccess;
    }
    // Every value is checked before the first is set, so a mistake anywhere changes nothing.
    if (const std::string fault = SettingFault(table, settings); !fault.empty()) {
        return console.Fail(kExitUsage, "%s", fault.c_str());
    }
    PrintPropertyHeader(console);
    int code = kExitSuccess;
    for (const PropertySetting& setting : settings) {
        PicturePropertyRow& row = table[static_cast<std::size_t>(setting.row)];
        const int asked = static_cast<int>(setting.value);
        const HResult result = controls->SetProperty(row.property, asked);
        if (!Succeeded(controls->GetProperty(row.property, row.value))) {
            return console.Fail(kExitNoDevice, "the microscope no longer answers about %s",
                                PropertyOptionName(row).c_str());
        }
        PrintProperty(row, console);
        if (!Succeeded(result)) {
            console.Fail(kExitUsage, "the microscope refused %s %d; it holds %d",
                         PropertyOptionName(row).c_str(), asked, row.value);
            code = kExitUsage;
        }
    }
    return code;
}

int RunNorm(CommandSession& session, std::optional<int> norm, const Console& console) {
    if (!session.Discover()) {
        return console.Fail(kExitNoDevice, "no supported microscope was found");
    }
    CaptureEngine& engine = session.engine();
    if (engine.libraryDeviceMode() != 1) {
        return console.Fail(kExitUsage, "the microscope \"%s\" is a camera and has no video norm",
                            DeviceName(engine));
    }
    if (engine.BuildGraph() != 1) {
        return console.Fail(kExitNoDevice,
                            "the microscope \"%s\" was found but could not be opened",
                            DeviceName(engine));
    }
    int current = 0;
    if (!Succeeded(engine.GetNorm(current))) {
        return console.Fail(kExitUsage, "the microscope \"%s\" has no video norm",
                            DeviceName(engine));
    }
    if (norm && *norm != current) {
        const HResult result = engine.SetNorm(*norm);
        if (!Succeeded(engine.GetNorm(current))) {
            return console.Fail(kExitNoDevice, "the microscope no longer answers about its norm");
        }
        if (!Succeeded(result)) {
            return console.Fail(kExitUsage, "the microscope refused %s; its norm is %s",
                                NormWord(*norm).c_str(), NormWord(current).c_str());
        }
    }
    console.Print("%s\n", NormWord(current).c_str());
    return kExitSuccess;
}

namespace {

// How often a recording looks at its writer and at the device.
constexpr std::chrono::milliseconds kRecordPollInterval{200};
// A device silent for this long (or three frame times, if longer) is asked whether it is
// still plugged in.
constexpr std::chrono::milliseconds kSilenceBeforePresenceCheck{1000};

enum class RecordingEnd { TimeUp, Signal, WriteFailed, Silent, Unplugged };

// Lets the frames flow into the recording for `duration`, or until something ends it.
RecordingEnd KeepRecording(CommandSession& session, const AviRecorder& recorder,
                           std::chrono::milliseconds duration, int framesPerSecond) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + duration;
    const auto presenceCheckAfter = std::max<std::chrono::milliseconds>(
        kSilenceBeforePresenceCheck,
        std::chrono::milliseconds(3000 / std::max(1, framesPerSecond)));
    LatestFrame& frames = session.engine().latestFrame();
    std::uint64_t framesSeen = frames.AcquireCopy();
    auto lastFrameAt = start;
    for (;;) {
        const auto remaining = end - Clock::now();
        if (remaining <= Clock::duration::zero()) {
            return RecordingEnd::TimeUp;
        }
        const auto pause = std::min<std::chrono::milliseconds>(
            kRecordPollInterval, std::chrono::ceil<std::chrono::milliseconds>(remaining));
        if (session.Pause(pause) == WaitResult::Interrupted) {
            return RecordingEnd::Signal;
        }
        if (!recorder.status().ok()) {
            return RecordingEnd::WriteFailed;
        }
        const auto now = Clock::now();
        if (const std::uint64_t count = frames.AcquireCopy(); count != framesSeen) {
            framesSeen = count;
            lastFrameAt = now;
            continue;
        }
        if (now - lastFrameAt >= session.frameTimeout()) {
            return RecordingEnd::Silent;
        }
        if (now - lastFrameAt >= presenceCheckAfter && !session.engine().IsDevicePresent()) {
            return RecordingEnd::Unplugged;
        }
    }
}

// The recorder's text for a failed open, on one line.
std::string OneLine(std::string text) {
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, ": ");
    }
    return text;
}

}  // namespace

int RunRecord(CommandSession& session, const std::string& videoFolder, const RecordOptions& options,
              const Console& console) {
    const RecorderCodec codec = options.compression.codec;
    if (!RecorderCodecAvailable(codec)) {
        return console.Fail(kExitUsage,
                            "this system's FFmpeg has no encoder for %s; choose another --codec",
                            RecorderCodecFourcc(codec));
    }
    if (const int code = ConnectOrFail(session, console); code != kExitSuccess) {
        return code;
    }
    CaptureSession& capture = session.capture();
    if (!capture.RunAtFrameRate(options.framesPerSecond)) {
        return console.Fail(kExitNoDevice,
                            "the microscope could not be started at %d frames per second",
                            options.framesPerSecond);
    }
    session.MarkFramesSeen();
    if (const WaitResult first = session.WaitForNewFrame(); first != WaitResult::Done) {
        return WaitFailure(session, first, "picture", console);
    }

    AviRecorder recorder([](const char* line) { DebugTrace(0, "%s", line); });
    int videoCounter = 0;
    const std::string path = NextRecordingPath(videoFolder, videoCounter);
    const IoResult opened =
        recorder.OpenRecording(path, capture.frameWidth(), capture.frameHeight(),
                               options.framesPerSecond, options.compression);
    if (!opened.ok()) {
        const RecordingOpenStep step = recorder.openFailedAt();
        return console.Fail(step == RecordingOpenStep::FrameFormat ? kExitUsage : kExitFile, "%s",
                            OneLine(RecordingOpenMessage(step, opened, videoCounter)).c_str());
    }
    capture.SetRecordingSink(&recorder);
    capture.SetRecording(true);
    const RecordingEnd end = KeepRecording(session, recorder, std::chrono::seconds(options.seconds),
                                           options.framesPerSecond);
    capture.SetRecording(false);
    const RecordingOutcome outcome = recorder.CloseRecording();
    // Once no frame callback runs, nothing holds the recorder any more.
    session.Stop();
    capture.SetRecordingSink(nullptr);

    console.Print("%s\nframes written: %lld, dropped: %lld\n", path.c_str(),
                  static_cast<long long>(outcome.framesWritten),
                  static_cast<long long>(outcome.framesDropped));
    if (!outcome.status.ok()) {
        // Also a failure while the file was ended after another reason to stop.
        return console.Fail(kExitFile, "cannot write %s: %s failed: %s", path.c_str(),
                            outcome.status.detail().c_str(), std::strerror(outcome.status.error()));
    }
    switch (end) {
        case RecordingEnd::Silent:
            return WaitFailure(session, WaitResult::TimedOut, "picture", console);
        case RecordingEnd::Unplugged:
            return console.Fail(kExitNoDevice, "the microscope was unplugged during the recording");
        case RecordingEnd::TimeUp:
        case RecordingEnd::Signal:
        case RecordingEnd::WriteFailed:
            break;
    }
    return kExitSuccess;
}
