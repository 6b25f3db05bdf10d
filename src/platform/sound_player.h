#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

// Plays the program's short WAV sounds (":/sounds/<id>.wav") without blocking: Play starts
// the sound and returns at once; a new sound ends the one still playing. Where there is no
// audio output, or the sound cannot be read, nothing is heard and nothing is reported but a
// line in the trace. UI thread.
class SoundPlayer : public QObject {
    Q_OBJECT
public:
    // `audioSink` is the GStreamer element that outputs the sound ("autoaudiosink" plays it
    // on the desktop's audio device; tests pass "fakesink").
    explicit SoundPlayer(QObject* parent = nullptr,
                         QString audioSink = QStringLiteral("autoaudiosink"));
    ~SoundPlayer() override;
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts sound `soundId`. False when it cannot be started (no such sound, no GStreamer).
    bool Play(int soundId);
    // Starts the WAV file held in `wav`.
    bool PlayWav(QByteArray wav);
    // Ends the sound now playing, if any.
    void Stop();

    bool playing() const { return pipeline_ != nullptr; }
    // Sounds played to their end so far.
    int soundsFinished() const { return soundsFinished_; }

Q_SIGNALS:
    // Play was asked for sound `soundId` (whether or not it can be heard).
    void soundRequested(int soundId);

private:
    void PollBus();

    QString audioSink_;
    QByteArray wav_;            // the sound playing; its bytes stay put while it plays
    void* pipeline_ = nullptr;  // GstElement*, owned
    QTimer busPoll_;
    int soundsFinished_ = 0;
};
