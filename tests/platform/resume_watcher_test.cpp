#include "platform/resume_watcher.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "support/temp_dir.h"

namespace platform {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kMarkerPath = QStringLiteral("/test/marker");
const QString kMarkerInterface = QStringLiteral("test.Marker");
constexpr int kDeadlineMs = 10000;

// A dbus-daemon of the test's own, listening on a socket in `dir`. The connections made
// through it are closed and the daemon is killed when it goes.
class PrivateBus {
public:
    explicit PrivateBus(const testsupport::TempDir& dir) {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments(
            {QStringLiteral("--session"), QStringLiteral("--nofork"),
             QStringLiteral("--print-address"),
             QStringLiteral("--address=unix:path=") + QString::fromStdString(dir / "bus")});
        daemon_.start();
        if (!daemon_.waitForStarted(kDeadlineMs)) {
            return;
        }
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(kDeadlineMs)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon_.kill();
        daemon_.waitForFinished(kDeadlineMs);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return !address_.isEmpty(); }

    QDBusConnection Connect() {
        names_.push_back(QStringLiteral("resume-watcher-test-%1").arg(nextConnection_++));
        return QDBusConnection::connectToBus(address_, names_.back());
    }

private:
    QProcess daemon_;
    QString address_;
    std::vector<QString> names_;
    static inline int nextConnection_ = 0;
};

// Counts the test's marker signal. Signals reach one connection in the order the bus routed
// them, and are handed to its receivers in that order: when a marker sent after some
// signals comes in, those signals have been delivered.
class Marker : public QObject {
    Q_OBJECT
public:
    int seen = 0;
public Q_SLOTS:
    void Seen() { ++seen; }
};

void SendSignal(QDBusConnection& from, const QString& path, const QString& interface,
                const QString& member, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createSignal(path, interface, member);
    message.setArguments(arguments);
    ASSERT_TRUE(from.send(message)) << qPrintable(member);
}

void SendPrepareForSleep(QDBusConnection& from, bool goingToSleep) {
    SendSignal(from, kLogindPath, kManager, QStringLiteral("PrepareForSleep"), {goingToSleep});
}

class ResumeWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus_.running()) {
            GTEST_SKIP() << "dbus-daemon cannot be started";
        }
        logind_ = bus_.Connect();
        ASSERT_TRUE(logind_.isConnected()) << qPrintable(logind_.lastError().message());
        // Taken before any watcher subscribes, as logind has it before the program starts.
        ASSERT_EQ(logind_.interface()->registerService(kLogind).value(),
                  QDBusConnectionInterface::ServiceRegistered);
        watched_ = bus_.Connect();
        ASSERT_TRUE(watched_.isConnected());
        ASSERT_TRUE(watched_.connect(QString(), kMarkerPath, kMarkerInterface,
                                     QStringLiteral("Marker"), &marker_, SLOT(Seen())));
    }

    // Sends a marker from logind's connection and waits for it: everything sent before it
    // has been delivered.
    void Flush() {
        const int before = marker_.seen;
        SendSignal(logind_, kMarkerPath, kMarkerInterface, QStringLiteral("Marker"), {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return marker_.seen > before; }, kDeadlineMs));
    }

    testsupport::TempDir dir_;
    PrivateBus bus_{dir_};
    QDBusConnection logind_{QString()};
    QDBusConnection watched_{QString()};
    Marker marker_;
};

TEST_F(ResumeWatcherTest, EachWakeIsReportedOnceAndGoingToSleepNever) {
    ResumeWatcher watcher(watched_, nullptr);
    ASSERT_TRUE(watcher.watching());
    QSignalSpy resumed(&watcher, &ResumeWatcher::resumed);

    SendPrepareForSleep(logind_, true);
    SendPrepareForSleep(logind_, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return resumed.count() >= 1; }, kDeadlineMs));
    Flush();
    EXPECT_EQ(resumed.count(), 1);

    SendPrepareForSleep(logind_, true);
    Flush();
    EXPECT_EQ(resumed.count(), 1);
    SendPrepareForSleep(logind_, false);
    SendPrepareForSleep(logind_, false);
    Flush();
    EXPECT_EQ(resumed.count(), 3);
}

TEST_F(ResumeWatcherTest, OnlyLogindsSleepSignalCounts) {
    ResumeWatcher watcher(watched_, nullptr);
    ASSERT_TRUE(watcher.watching());
    QSignalSpy resumed(&watcher, &ResumeWatcher::resumed);

    // The same signal from a connection that does not own logind's name.
    QDBusConnection impostor = bus_.Connect();
    ASSERT_TRUE(impostor.isConnected());
    SendPrepareForSleep(impostor, false);
    // A call answered by the bus: the bus has routed the impostor's signal before the marker.
    EXPECT_TRUE(impostor.interface()->isServiceRegistered(kLogind).value());

    // Look-alikes from logind itself.
    SendSignal(logind_, kLogindPath, kManager, QStringLiteral("PrepareForShutdown"), {false});
    SendSignal(logind_, QStringLiteral("/org/freedesktop/login1/session/self"), kManager,
               QStringLiteral("PrepareForSleep"), {false});
    SendSignal(logind_, kLogindPath, QStringLiteral("org.freedesktop.login1.Session"),
               QStringLiteral("PrepareForSleep"), {false});
    SendSignal(logind_, kLogindPath, kManager, QStringLiteral("PrepareForSleep"),
               {QStringLiteral("false")});
    Flush();
    EXPECT_EQ(resumed.count(), 0);

    // The watcher was listening all along.
    SendPrepareForSleep(logind_, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return resumed.count() == 1; }, kDeadlineMs));
}

TEST(ResumeWatcherWithoutBusTest, WatchesNothingWhenTheBusIsNotThere) {
    testsupport::TempDir dir;
    const QString name = QStringLiteral("resume-watcher-test-nowhere");
    {
        QDBusConnection nowhere = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=") + QString::fromStdString(dir / "no-bus"), name);
        EXPECT_FALSE(nowhere.isConnected());
        ResumeWatcher watcher(nowhere, nullptr);
        EXPECT_FALSE(watcher.watching());
        QSignalSpy resumed(&watcher, &ResumeWatcher::resumed);
        QTest::qWait(0);
        EXPECT_EQ(resumed.count(), 0);
    }
    QDBusConnection::disconnectFromBus(name);
}

}  // namespace
}  // namespace platform

#include "resume_watcher_test.moc"
