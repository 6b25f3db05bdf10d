#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/program_paths.h"
#include "app/startup.h"
#include "app/text_table.h"
#include "browser/media_item.h"
#include "browser/movie_player.h"
#include "capture/capture_session.h"
#include "mainwindow/compressor_dialog.h"
#include "mainwindow/window_mode.h"
#include "mainwindow/window_timers.h"
#include "output/avi_recorder.h"
#include "output/picture_formats.h"
#include "output/time_lapse_worker.h"

class CaptureStack;
class CThumbnailList;
class MailAttachments;
class MeasureController;
class QLabel;
class ThumbnailCache;
class QFileDialog;
class QMessageBox;
class RecordCounterPanel;
class DevicePresence;
class MainWindowSkin;
class SkinBackground;
class SoundPlayer;
class StillWriter;
class TimeLapseDialog;
class VideoSettingsDialog;
class VideoDisplayWindow;
namespace platform {
class DeviceChangeMonitor;
class ResumeWatcher;
}  // namespace platform

// Sounds of the main window.
namespace sound {
inline constexpr int kRecording = 180;  // a recording starts or stops
inline constexpr int kShutter = 181;    // a still was taken (or tried)
inline constexpr int kTimeLimit = 182;  // a recording reached its time limit
}  // namespace sound

// The program's main window and the controller of its modes. Its client area is a fixed
// kClientRect (842 x 579 pixels). It holds the mode, Live, Recording, Browse or No device;
// the skin draws it, and the Preview and AVI toggle buttons only show it and take the clicks.
// UI thread.
class CMicroscopeDlg : public QMainWindow {
    Q_OBJECT
public:
    explicit CMicroscopeDlg(StartupEnvironment environment, QWidget* parent = nullptr);
    ~CMicroscopeDlg() override;

    // Initialises the window before it is first shown: fixes the program folder, the
    // language file and the storage tree, loads the message title, builds the skin and the
    // menus, makes the first connection to the capture device and starts watching for device
    // changes and resumes. Files already in the storage tree are left as they are; a storage
    // folder that cannot be used is shown in a warning once the window is up. UI thread.
    // Returns true when the window can be shown.
    bool OnInitDialog();

    VideoDisplayWindow* displayWindow() const { return displayWindow_; }
    MainWindowSkin* skin() const { return skin_; }
    // The capture side and its presence; null before OnInitDialog.
    CaptureStack* capture() const { return capture_.get(); }
    DevicePresence* presence() const { return presence_.get(); }
    SoundPlayer& sounds() const { return *sounds_; }
    const StillWriter* stillWriter() const { return stillWriter_.get(); }
    // The recorder and the file of the current or last recording ("" before the first).
    const AviRecorder& recorder() const { return recorder_; }
    const std::string& recordingFileName() const { return recordingFileName_; }
    // The compression every recording uses, as the last choice left it.
    const RecorderCompressOptions& compressOptions() const { return recorderChoice_.options; }
    RecordCounterPanel* counterPanel() const { return counterPanel_; }
    // The captured-file list at the left; null before OnInitDialog.
    CThumbnailList* fileList() const { return fileList_; }
    // The picture the display shows while browsing: a packed DIB of kViewerImageBytes, and
    // the file it came from ("" before the first).
    const std::vector<std::uint8_t>& viewerImage() const { return viewerImage_; }
    const std::string& viewerPath() const { return viewerPath_; }
    // The warning shown without waiting for an answer, while it is open; else null.
    QMessageBox* openWarning() const;

    // Runs the save and open dialogs in place of their exec(): gives the chosen file, or ""
    // for cancel. Tests answer them without Qt's asynchronous folder model choosing files of
    // its own.
    void SetFileDialogRunner(std::function<QString(QFileDialog&)> runner) {
        fileDialogRunner_ = std::move(runner);
    }
    // The player of browsed videos, and the video chosen with the Open button ("" before the
    // first).
    const CMoviePlayer& player() const { return player_; }
    const std::string& externalVideoPath() const { return externalVideoPath_; }
    // The clocks the time-lapse dialog keeps to; tests set one of their own, which must
    // outlive the window.
    void SetTimeLapseClock(TimeLapseClock& clock) { timeLapseClock_ = &clock; }
    // The time-lapse dialog while it is open; else null.
    TimeLapseDialog* timeLapseDialog() const { return timeLapseDialog_; }
    // The video settings dialog while it is open; else null.
    VideoSettingsDialog* videoSettingsDialog() const { return videoSettingsDialog_; }
    // Calibration, measurement, the scale bar and the status line; null before OnInitDialog.
    MeasureController* measure() const { return measure_.get(); }
    QLabel* statusLine() const { return statusLine_; }
    // The computer woke from sleep: a time-lapse run stops, saying why, and the device is
    // connected again.
    void OnResumed();

    // The caption of the main window's message boxes.
    const QString& MessageTitle() const { return messageTitle_; }
    const ProgramPaths& Paths() const { return paths_; }

    // A button or menu command.
    void OnCommand(int id);

    WindowMode mode() const { return mode_; }
    // Every change of the mode comes through here: the window takes `mode` and the skin
    // draws it. No device until the first connection.
    void SetMode(WindowMode mode);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Clicks on the display and on the category tabs.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape leaves full screen; Escape and Enter never close anything; the camera key
    // counts as the snapshot button where the button cannot be read from the device.
    void keyPressEvent(QKeyEvent* event) override;
    // The player's events.
    void customEvent(QEvent* event) override;
    // Maximising means full screen.
    void changeEvent(QEvent* event) override;

private:
    bool Capturing() const { return IsCapturing(mode_); }
    // The connection was made or lost.
    void ShowConnected(bool connected);
    // The device in use is gone.
    void OnDeviceLost();
    // The calibrations and the stills' metadata follow the device in use.
    void NoteCurrentDevice();

    void OnPreviewToggle();
    // The AVI button and Take Video: starts a recording after the settings dialog, or stops
    // the one that runs.
    void OnRecording();
    // Opens the recording file and lets frames flow into it at `framesPerSecond`. False when
    // it cannot be opened (the user has been told why; the capture runs on in Live).
    bool StartRecording(int framesPerSecond);
    // Stops frames going to the recording, finishes its file and stops the counter. Nothing
    // when no recording runs. Returns what the recording did.
    RecordingOutcome EndRecording();
    // Once a second while recording: counts, checks the recorder, and ends the recording at
    // its time limit.
    void OnRecordCounter();
    // The recorder could not write on: the recording ends and the user hears why and how
    // much is kept.
    void OnRecordingFailed();
    void OnTakePicture();
    // The file list: a click, double click or right click on an item (now selected).
    void OnFileListHit(Qt::MouseButton button, bool doubleClick, const QPoint& globalPoint);
    // The selected item to the display: a picture, or a video's first frame.
    void ShowSelected();
    // Playback of the browsed video. Open for playback opens the video chosen with the Open
    // button, else the selected one, and sets the slider's range to its length in tenths of a
    // second.
    void OpenForPlayback();
    void OnPlayback();    // the Play button: play, or pause
    void StopPlayback();  // the Stop button and the end of the video: stop at 0
    void OnOpenVideo();   // the Open button: play a video from anywhere
    void OnStep(int id);  // First, Last and the two 2-second steps
    void OnPlayerEvent();
    void FollowPlaybackPosition();
    // Play and Open off, the position timer stopped, the slider at 0.
    void ResetTransport();
    // Stop, First, Last and the steps are enabled exactly while Play is on.
    void EnableTransportButtons();
    // Stops playback and closes the player, when it plays `path` (any file when empty).
    void ClosePlayerOf(const std::string& path);
    // The dialog's exec(), or the test's runner: the chosen file, or "" for cancel.
    QString RunFileDialog(QFileDialog& dialog);
    // The file commands on the selected item; each needs one.
    void OnSaveAs();
    void OnOpenExternally();
    void OnDeleteSelected();
    void OnDeleteAll();
    void OnEMail();
    void OnTimeLapse();
    // The Setting button and Setting > Device...: the video settings dialog, in any mode.
    void OnVideoSettings();
    // The settings dialog chose the device in `slot`: the capture moves to it. The window
    // keeps its mode: browsing goes on with the new device stopped, and a device that cannot
    // be started counts as a lost connection.
    void SwitchDevice(int slot);
    void OnHelpButton();
    void ToggleOverlay(std::atomic<int>& overlaySwitch);
    // The capture session says a still arrived: make the storage folders again where they
    // have gone, save it, then play the shutter sound, or say why a requested still was not
    // saved.
    void OnStillArrived();
    // With Burn Overlays into Stills on: the overlays shown now drawn into the still.
    void BurnOverlaysInto(KeptStill& still) const;
    // What a still of `frameSize` taken now records: the time, the device, the current
    // calibration's scale and name.
    PictureMetadata StillMetadata(QSize frameSize) const;
    void OnTimer(int id);
    // Help > Manual: the manual in the desktop's viewer for HTML.
    void OnManual();
    // Help > Update: the project's web page in the user's browser.
    void OnUpdate();
    // Help > About: the About box, modal.
    void OnAbout();
    // A message box with the window's caption and the exclamation icon.
    void ShowMessage(TextId text);
    void ShowMessage(const QString& text);
    // The same box, window-modal, but nobody waits for the answer, so the events that follow
    // (further stills, the graph's restart) are handled meanwhile: for something the user did
    // not just ask for (a failed still, a start-up problem). One at a time: while one is open,
    // further warnings only go to the trace.
    void ShowWarningWithoutWaiting(const QString& text);

    StartupEnvironment environment_;
    ProgramPaths paths_;
    QString messageTitle_;
    SkinBackground* clientArea_ = nullptr;
    MainWindowSkin* skin_ = nullptr;
    VideoDisplayWindow* displayWindow_ = nullptr;
    SoundPlayer* sounds_ = nullptr;
    WindowTimer recordCounterTimer_{timerid::kRecordCounter, this};
    WindowTimer positionTimer_{timerid::kPosition, this};
    std::unique_ptr<StillWriter> stillWriter_;
    // Declared before the capture, so it outlives every frame callback that writes to it.
    AviRecorder recorder_;
    RecorderChoice recorderChoice_;
    std::string recordingFileName_;
    int videoCounter_ = 0;        // the number the next recording's name starts from
    int recordingRate_ = 0;       // frames a second of the current recording
    int recordLimitSeconds_ = 0;  // the time limit; kNoTimeLimit when there is none
    int recordSeconds_ = 0;       // seconds counted since the recording started
    RecordCounterPanel* counterPanel_ = nullptr;
    std::unique_ptr<ThumbnailCache> thumbnails_;  // outlives the list
    CThumbnailList* fileList_ = nullptr;
    std::vector<std::uint8_t> viewerImage_ = std::vector<std::uint8_t>(kViewerImageBytes);
    std::string viewerPath_;
    std::unique_ptr<MailAttachments> mailAttachments_;
    std::function<QString(QFileDialog&)> fileDialogRunner_;
    CMoviePlayer player_;
    std::string externalVideoPath_;
    SystemTimeLapseClock systemClock_;
    TimeLapseClock* timeLapseClock_ = &systemClock_;
    TimeLapseDialog* timeLapseDialog_ = nullptr;
    VideoSettingsDialog* videoSettingsDialog_ = nullptr;
    QString saveFolder_;       // where the last save went; the save dialog starts there
    QString openVideoFolder_;  // where the last video was opened from
    // What the stills taken in this run recorded, by their path, for Save as.
    std::map<std::string, PictureMetadata> stillMetadata_;
    QLabel* statusLine_ = nullptr;
    std::unique_ptr<MeasureController> measure_;
    std::unique_ptr<CaptureStack> capture_;
    std::unique_ptr<DevicePresence> presence_;
    std::unique_ptr<platform::DeviceChangeMonitor> deviceMonitor_;
    std::unique_ptr<platform::ResumeWatcher> resumeWatcher_;
    QPointer<QMessageBox> openWarning_;
    WindowMode mode_ = WindowMode::NoDevice;
    bool shutDown_ = false;
};
