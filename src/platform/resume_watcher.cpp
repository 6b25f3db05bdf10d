#include "platform/resume_watcher.h"

#include <QDBusError>
#include <QLoggingCategory>
#include <utility>

namespace platform {
namespace {

Q_LOGGING_CATEGORY(resumeCategory, "microscope.resume", QtWarningMsg)

// The signal is subscribed by logind's well-known name, not with an empty service: QtDBus
// then follows whichever connection owns the name and the bus only routes the signal from
// that owner, so nobody else on the bus can fake a wake-up. A test bus has its sending
// connection own the name before the watcher subscribes.
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kMember = QStringLiteral("PrepareForSleep");
const QString kSignature = QStringLiteral("b");

}  // namespace

ResumeWatcher::ResumeWatcher(QObject* parent)
    : ResumeWatcher(QDBusConnection::systemBus(), parent) {}

ResumeWatcher::ResumeWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    Watch();
}

ResumeWatcher::~ResumeWatcher() {
    if (watching_) {
        bus_.disconnect(kService, kPath, kInterface, kMember, kSignature, this,
                        SLOT(OnPrepareForSleep(bool)));
    }
}

void ResumeWatcher::Watch() {
    if (!bus_.isConnected()) {
        qCInfo(resumeCategory, "Waking from sleep is not watched: no bus (%s)",
               qUtf8Printable(bus_.lastError().message()));
        return;
    }
    watching_ = bus_.connect(kService, kPath, kInterface, kMember, kSignature, this,
                             SLOT(OnPrepareForSleep(bool)));
    if (!watching_) {
        qCWarning(resumeCategory, "Waking from sleep is not watched: cannot subscribe (%s)",
                  qUtf8Printable(bus_.lastError().message()));
    }
}

void ResumeWatcher::OnPrepareForSleep(bool goingToSleep) {
    if (!goingToSleep) {
        Q_EMIT resumed();
    }
}

}  // namespace platform
