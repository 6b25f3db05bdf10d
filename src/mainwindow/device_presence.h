#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

#include "capture/capture_engine.h"
#include "capture/capture_session.h"
#include "mainwindow/window_timers.h"
#include "platform/device_change_monitor.h"
#include "platform/snapshot_button.h"

// What keeping the capture side in step with the hardware asks of the main window. Every
// hook may be left empty.
struct PresenceHooks {
    // Connected: the capture buttons enabled, Live (Preview on), no connect text. Not
    // connected: the capture buttons disabled, Preview and AVI off, the connect text shown.
    std::function<void(bool connected)> showConnected;
    // The display is drawn anew.
    std::function<void()> repaintDisplay;
    // The device set may have changed: the video settings dialog, when open, fills itself
    // anew. `now` asks for it before the call returns, else it is queued.
    std::function<void(bool now)> refreshSettingsDialog;
    // The device in use is gone: a recording or a time-lapse run that uses it ends now.
    std::function<void()> deviceLost;
};

// Keeps the capture side in step with the hardware: makes the first connection, checks the
// connection again when devices change or the system resumes, tears the capture down, and
// owns the microscope's snapshot button and polls it once a second. The engine opens and
// closes the button through the DeviceLibrary interface. UI thread.
class DevicePresence : public QObject, public DeviceLibrary {
    Q_OBJECT
public:
    using ButtonFactory = std::function<std::unique_ptr<platform::SnapshotButtonLibrary>()>;

    // Drives the session's engine; stills the button asks for go through the session.
    DevicePresence(CaptureSession& session, ButtonFactory makeButton, PresenceHooks hooks);
    ~DevicePresence() override;

    // The first connection at start-up; a preview format that cannot be set gets one more
    // try 100 ms later. Returns 1 when the graph runs.
    int FirstConnection();
    // Returns 1 when a device is (still) connected; reconnects when it has to. Exclusive
    // against itself.
    int ConnectionCheck();
    // Closes the button, stops and tears down the capture graph; pending still requests
    // are dropped with it.
    void CaptureShutdown();

    // A device event: a removed video node is checked at once; a burst of node changes
    // once, a second after the last of them.
    void OnDeviceEvent(platform::DeviceEvent event);
    // The system woke from sleep: the capture is set up anew.
    void OnResumed();
    // The camera key reached the window.
    void NoteCameraKey();

    // DeviceLibrary: the button's opener (1 when open) and closer.
    int Open() override;
    void Close() override;

    int deviceConnected() const { return deviceConnected_; }
    platform::SnapshotButtonLibrary* buttonLibrary() const { return button_.get(); }
    WindowTimer& buttonPollTimer() { return buttonPollTimer_; }
    WindowTimer& connectionTimer() { return connectionTimer_; }

    // Timer ticks.
    void PollButton();
    void OnConnectionTimer();

private:
    // Ends what uses the device (a recording, a time-lapse run) before the capture goes; from
    // then on no device counts as connected. Once per connection.
    void EndDeviceUse();
    void ShowConnected(bool connected);
    void RepaintDisplay();
    void RefreshSettingsDialog(bool now);

    CaptureSession& session_;
    CaptureEngine& engine_;
    ButtonFactory makeButton_;
    PresenceHooks hooks_;
    std::unique_ptr<platform::SnapshotButtonLibrary> button_;
    WindowTimer buttonPollTimer_;
    WindowTimer connectionTimer_;
    // Held for a whole connection check, which timers, device changes and power events can
    // all start.
    std::recursive_mutex connectionLock_;
    int deviceConnected_ = 0;
};
