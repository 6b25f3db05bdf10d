#pragma once

// The choice of the compressor every recording uses: the dialog that lists the codecs this
// FFmpeg can encode with their settings, and the rules for taking a pick into the options.

#include <QDialog>
#include <QString>
#include <vector>

#include "output/avi_recorder.h"
#include "platform/io_result.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

// The window's recording options and how they came about. Owned by the main window and
// handed to the recorder settings dialog and the compressor choice by reference.
struct RecorderChoice {
    // What OpenRecording is given for every recording.
    RecorderCompressOptions options;
    // The user asked for a compressor of his own (Compress), so the next OK of the recorder
    // settings keeps `options` instead of installing the default; that OK clears it.
    bool compressorChosen = false;
    // A probe has accepted `options` at least once.
    bool optionsSet = false;
};

// A small dialog of fixed size: a title and a close button, nothing to minimise or maximise.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// The quality a codec that uses one starts at when the options carry none.
inline constexpr int kDefaultCompressQuality = 75;
// The key-frame interval offered when the options keep the codec's own.
inline constexpr int kDefaultKeyFrameEvery = 15;

// The codecs offered, in this order: those this FFmpeg has an encoder for.
std::vector<RecorderCodec> OfferedCodecs();
// The codec's usual name with its four-character code, "Microsoft Video 1 (MSVC)".
QString CodecDisplayName(RecorderCodec codec);

// The compressor choice dialog, titled "CompressTilte": the codec list, a quality slider
// (1-100) for the codecs that use one, a key-frame interval for the codecs that have one, OK
// and Cancel. It opens on `current`. OK probes the pick at the given frame size: the dialog
// closes with Accepted only when the probe succeeds; otherwise a message box says why and
// the dialog stays open. UI thread.
class CompressorDialog : public QDialog {
    Q_OBJECT
public:
    CompressorDialog(const RecorderCompressOptions& current, int frameWidth, int frameHeight,
                     QWidget* parent = nullptr);

    // The options as the dialog shows them: quality 0 for a codec without one, keyFrameEvery
    // 0 for a codec without an interval or with the box unticked.
    RecorderCompressOptions pick() const;
    // The options the dialog was opened on, or the pick once its probe succeeded.
    const RecorderCompressOptions& accepted() const { return accepted_; }
    // The result of the last probe (success before any).
    const IoResult& lastProbe() const { return lastProbe_; }

    // Puts `codec` in the list's selection; false when it is not offered.
    bool SelectCodec(RecorderCodec codec);

    QComboBox* codecList() const { return codecList_; }
    QSlider* qualitySlider() const { return quality_; }
    QCheckBox* keyFrameCheck() const { return keyFrameCheck_; }
    QSpinBox* keyFrameEdit() const { return keyFrameEdit_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

public Q_SLOTS:
    // OK: probe the pick, close only when it can record.
    void accept() override;

private:
    // Enables the settings the selected codec has.
    void UpdateControls();

    int frameWidth_;
    int frameHeight_;
    RecorderCompressOptions accepted_;
    IoResult lastProbe_;
    QComboBox* codecList_ = nullptr;
    QLabel* qualityLabel_ = nullptr;
    QLabel* qualityValue_ = nullptr;
    QSlider* quality_ = nullptr;
    QCheckBox* keyFrameCheck_ = nullptr;
    QSpinBox* keyFrameEdit_ = nullptr;
    QLabel* keyFrameUnit_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Shows the compressor choice modally over `parent`, opened on `options`, for frames of
// `width` x `height` (640 x 480 when 0: no frame yet). Cancel keeps `options`; an OK whose
// probe succeeds replaces them with the pick. Returns success, or the last failed probe
// when the user gave up after one. `replaced` (optional) tells whether `options` changed
// hands. UI thread.
IoResult ChooseCompressor(QWidget* parent, RecorderCompressOptions& options, int width, int height,
                          bool* replaced = nullptr);

// The same for the window's choice, as the "Compress" menu entry wants it: a pick that is
// taken in also counts as the user's own (compressorChosen), so the next recording keeps it
// rather than going back to the default; and marks the options as set.
IoResult ChooseRecorderCompressor(QWidget* parent, RecorderChoice& choice, int width, int height);
