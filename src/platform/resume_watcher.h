#pragma once

#include <QDBusConnection>
#include <QObject>

namespace platform {

// Tells when the system has woken from sleep: systemd-logind's signal
// org.freedesktop.login1.Manager.PrepareForSleep(false) on the system bus. Without a system
// bus or without logind nothing is ever reported, after one line in the log. UI thread.
class ResumeWatcher : public QObject {
    Q_OBJECT
public:
    // Watches the system bus.
    explicit ResumeWatcher(QObject* parent = nullptr);
    // Watches `bus` (tests pass a private bus).
    ResumeWatcher(QDBusConnection bus, QObject* parent);
    ~ResumeWatcher() override;

    // True when the bus is connected and the signal is subscribed.
    bool watching() const { return watching_; }

Q_SIGNALS:
    // The system has resumed; emitted once per PrepareForSleep(false).
    void resumed();

private Q_SLOTS:
    void OnPrepareForSleep(bool goingToSleep);

private:
    void Watch();

    QDBusConnection bus_;
    bool watching_ = false;
};

}  // namespace platform
