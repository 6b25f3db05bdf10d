#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP: a terminal's Ctrl+C, kill, a session's logout. A signal the
// program was started with ignored (by nohup, or as a background job of a script) stays
// ignored. While one of the watchers below exists, the first signal of a kind is recorded
// instead of ending the process; a second of the same kind ends it the default way.
// Handlers are restored when the watcher is destroyed. One watcher at a time.

// Turns the signals into a call of `onSignal` on the UI thread, so that the program closes
// in its usual order.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;

    // The signal that arrived last; 0 before any. UI thread.
    int lastSignal() const { return lastSignal_; }

private:
    void Drain();

    std::function<void()> onSignal_;
    int fds_[2] = {-1, -1};
    int lastSignal_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Records the signals for work without an event loop that asks between its steps.
class TerminationFlag {
public:
    TerminationFlag();
    ~TerminationFlag();
    TerminationFlag(const TerminationFlag&) = delete;
    TerminationFlag& operator=(const TerminationFlag&) = delete;

    // The signal that arrived last; 0 before any. Any thread.
    int lastSignal() const;
};

// Makes a write past the file-size limit (ulimit -f) fail with EFBIG, where it is seen and
// the partial file removed, instead of ending the process with SIGXFSZ. Called once at
// start.
void IgnoreFileSizeLimitSignal();
