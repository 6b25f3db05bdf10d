#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// The main window's timers, by id.
namespace timerid {
inline constexpr int kButtonPoll = 1000;       // the snapshot button, once a second
inline constexpr int kConnectionCheck = 1001;  // a connection check a little later
inline constexpr int kRecordCounter = 1002;    // the recording's seconds and time limit
inline constexpr int kPosition = 1004;         // the playback position, 20 times a second
}  // namespace timerid

// One timer of the main window, known by its id (also its object name, "timer<id>"). Setting
// it again restarts it with the new period; killing it stops it. UI thread.
class WindowTimer : public QTimer {
public:
    WindowTimer(int id, QObject* parent) : QTimer(parent), id_(id) {
        setObjectName(QStringLiteral("timer%1").arg(id));
    }

    int id() const { return id_; }
    void Set(int periodMs) { start(periodMs); }
    void Kill() { stop(); }

private:
    int id_;
};
