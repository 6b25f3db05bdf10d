#pragma once

#include <QMainWindow>
#include <QString>
#include <memory>

#include "app/program_paths.h"
#include "app/startup.h"

class CaptureStack;
class MainWindowSkin;
class SkinBackground;
class StillWriter;
class VideoDisplayWindow;

// The program's main window. Its client area is a fixed 842 x 579 pixels.
class CMicroscopeDlg : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 842;
    static constexpr int kClientHeight = 579;
    // Where the video display window sits in the client area.
    static constexpr int kDisplayLeft = 221;
    static constexpr int kDisplayTop = 0;
    static constexpr int kDisplayWidth = 622;
    static constexpr int kDisplayHeight = 487;

    explicit CMicroscopeDlg(StartupEnvironment environment, QWidget* parent = nullptr);
    ~CMicroscopeDlg() override;

    // Initialises the window before it is first shown: fixes the program folder, the
    // language file and the storage tree, loads the message title, removes a leftover
    // compressor probe, and makes the first connection to the capture device. UI thread.
    // Returns true when the window can be shown.
    bool OnInitDialog();

    VideoDisplayWindow* displayWindow() const { return displayWindow_; }
    MainWindowSkin* skin() const { return skin_; }
    // The capture side; null before OnInitDialog.
    CaptureStack* capture() const { return capture_.get(); }

    // The caption of the main window's message boxes.
    const QString& MessageTitle() const { return messageTitle_; }
    const ProgramPaths& Paths() const { return paths_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    // A double click on the display enters full screen and leaves it; a right click opens
    // the display pop-up.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape leaves full screen.
    void keyPressEvent(QKeyEvent* event) override;
    // Maximising means full screen.
    void changeEvent(QEvent* event) override;

private:
    StartupEnvironment environment_;
    ProgramPaths paths_;
    QString messageTitle_;
    SkinBackground* clientArea_ = nullptr;
    MainWindowSkin* skin_ = nullptr;
    VideoDisplayWindow* displayWindow_ = nullptr;
    std::unique_ptr<StillWriter> stillWriter_;
    std::unique_ptr<CaptureStack> capture_;

    // The capture buttons are enabled and disabled together.
    void EnableCaptureButtons(bool enabled);
    // A button or menu command.
    void OnCommand(int id);

    // A still arrived from the frame callback: save it; rebuild the graph after a still the
    // device itself asked for, so its one-shot still grabber is armed again.
    void OnStillArrived(std::intptr_t armed);
};
