#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a call of `onSignal` on the UI thread, so that a
// terminal's Ctrl+C or a session's logout closes the program in its usual order. A second
// signal of the same kind ends the process the default way. Handlers are restored when
// this object is destroyed. One instance at a time.
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
