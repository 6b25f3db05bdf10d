#include "mainwindow/device_presence.h"

#include "app/debug_trace.h"
#include "app/text_table.h"

DevicePresence::DevicePresence(CaptureSession& session, ButtonFactory makeButton,
                               PresenceHooks hooks)
    : session_(session),
      engine_(session.engine()),
      makeButton_(std::move(makeButton)),
      hooks_(std::move(hooks)),
      buttonPollTimer_(timerid::kButtonPoll, this),
      connectionTimer_(timerid::kConnectionCheck, this) {
    connect(&buttonPollTimer_, &QTimer::timeout, this, &DevicePresence::PollButton);
    connect(&connectionTimer_, &QTimer::timeout, this, &DevicePresence::OnConnectionTimer);
    engine_.SetDeviceLibrary(this);
}

DevicePresence::~DevicePresence() {
    engine_.SetDeviceLibrary(nullptr);
    Close();
}

int DevicePresence::Open() {
    Close();
    button_ = makeButton_ ? makeButton_() : nullptr;
    if (!button_) {
        return 0;
    }
    if (button_->OpenInterface() == 0) {
        button_.reset();
        return 0;
    }
    buttonPollTimer_.Set(1000);
    engine_.SetLibraryDeviceMode(1);
    return 1;
}

void DevicePresence::Close() {
    if (button_) {
        button_->CloseInterface();
        button_.reset();
    }
}

void DevicePresence::CaptureShutdown() {
    if (engine_.libraryDeviceMode() == 1) {
        Close();
        engine_.SetLibraryDeviceMode(0);
    }
    session_.Shutdown();
}

int DevicePresence::FirstConnection() {
    engine_.CreateDeviceEnumerator();
    bool connected = false;
    if (engine_.DiscoverDevices() == 1 && engine_.BuildGraph() == 1) {
        if (engine_.PreparePreview() != 1) {
            connectionTimer_.Set(100);
        } else {
            connected = engine_.RunGraph() == 1;
        }
    }
    if (!connected) {
        CaptureShutdown();
    }
    ShowConnected(connected);
    deviceConnected_ = connected ? 1 : 0;
    return deviceConnected_;
}

int DevicePresence::ConnectionCheck() {
    std::unique_lock lock(connectionLock_);
    if (engine_.running() && engine_.IsDevicePresent()) {
        engine_.DiscoverDevices();
        RefreshSettingsDialog(true);
        return 1;
    }
    RefreshSettingsDialog(false);
    EndDeviceUse();
    CaptureShutdown();
    const bool connected = engine_.DiscoverDevices() == 1 && engine_.BuildGraph() == 1 &&
                           engine_.PreparePreview() == 1 && engine_.RunGraph() == 1;
    if (!connected) {
        CaptureShutdown();
    }
    ShowConnected(connected);
    RepaintDisplay();
    lock.unlock();
    deviceConnected_ = connected ? 1 : 0;
    return deviceConnected_;
}

void DevicePresence::OnConnectionTimer() {
    connectionTimer_.Kill();
    ConnectionCheck();
}

void DevicePresence::OnDeviceEvent(platform::DeviceEvent event) {
    switch (event) {
        case platform::DeviceEvent::NodesChanged:
            // A burst of changes ends in one check a second after the last of them.
            connectionTimer_.Kill();
            connectionTimer_.Set(1000);
            break;
        case platform::DeviceEvent::NodeRemoved:
            ConnectionCheck();
            break;
    }
}

void DevicePresence::OnResumed() {
    DebugTrace(0, "Resumed: reconnecting the capture device\n");
    EndDeviceUse();
    CaptureShutdown();
    ConnectionCheck();
}

void DevicePresence::PollButton() {
    if (engine_.libraryDeviceMode() == 0 || !button_ || session_.StillPending()) {
        return;
    }
    // A press makes the frame thread skip one frame and keep the next. Without one nothing
    // is asked, so a request another thread makes meanwhile stays as it is.
    if (button_->IsButtonPressed() == 1) {
        session_.RequestStill(StillSource::DeviceButton);
    }
}

void DevicePresence::NoteCameraKey() {
    if (button_) {
        button_->NoteCameraKey();
    }
}

void DevicePresence::EndDeviceUse() {
    if (deviceConnected_ == 0) {
        return;
    }
    deviceConnected_ = 0;
    if (hooks_.deviceLost) {
        hooks_.deviceLost();
    }
}

void DevicePresence::ShowConnected(bool connected) {
    if (hooks_.showConnected) {
        hooks_.showConnected(connected);
    }
}

void DevicePresence::RepaintDisplay() {
    if (hooks_.repaintDisplay) {
        hooks_.repaintDisplay();
    }
}

void DevicePresence::RefreshSettingsDialog(bool now) {
    if (hooks_.refreshSettingsDialog) {
        hooks_.refreshSettingsDialog(now);
    }
}
