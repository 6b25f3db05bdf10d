// Runs the built program as a user would start it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QProcess>
#include <QThread>

#include "support/process_signal.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::Exists;
using testsupport::IsDirectory;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::WriteFile;

// An environment with a private home and no display at all.
QProcessEnvironment PrivateEnvironment(const TempDir& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME",
                             "XDG_DOCUMENTS_DIR", "LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(home.path()));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(home.path()));
    return environment;
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

RunResult RunToEnd(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(DM_EXECUTABLE), arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << "program did not end";
    RunResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

TEST(Startup, HelpAndVersionNeedNoDisplay) {
    TempDir home;
    const RunResult help = RunToEnd({QStringLiteral("--help")}, PrivateEnvironment(home));
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: digital-microscope"), std::string::npos) << help.out;

    const RunResult version = RunToEnd({QStringLiteral("--version")}, PrivateEnvironment(home));
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("digital-microscope ", 0), 0u) << version.out;
    // Neither touched the storage tree.
    EXPECT_FALSE(Exists(home / "Documents/Microscope files"));
}

TEST(Startup, UnknownArgumentIsRefused) {
    TempDir home;
    QProcessEnvironment environment = PrivateEnvironment(home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const RunResult result = RunToEnd({QStringLiteral("--no-such-option")}, environment);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--no-such-option"), std::string::npos) << result.err;
    EXPECT_FALSE(Exists(home / "Documents/Microscope files"));
}

TEST(Startup, RunsUntilAskedToEndAndKeepsTheStorageTree) {
    TempDir home;
    const std::string root = home / "Documents/Microscope files";
    ASSERT_EQ(::mkdir((home / "Documents").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/Video").c_str(), 0755), 0);
    WriteFile(root + "/Video/test.avi", "the user's recording");
    WriteFile(root + "/Video/VCap0000.avi", "recording");

    QProcessEnvironment environment = PrivateEnvironment(home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(DM_EXECUTABLE), {});
    ASSERT_TRUE(process.waitForStarted(10000));

    EXPECT_TRUE(WaitUntil([&] { return IsDirectory(root + "/Picture"); }, 20000));
    EXPECT_EQ(process.state(), QProcess::Running);

    testsupport::SendSignal(process, SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(ReadFile(root + "/Video/VCap0000.avi"), "recording");
    EXPECT_EQ(ReadFile(root + "/Video/test.avi"), "the user's recording");
}

TEST(Startup, MissingDocumentsFolderIsCreated) {
    TempDir home;
    QProcessEnvironment environment = PrivateEnvironment(home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(DM_EXECUTABLE), {});
    ASSERT_TRUE(process.waitForStarted(10000));
    EXPECT_TRUE(
        WaitUntil([&] { return IsDirectory(home / "Documents/Microscope files/Picture"); }, 20000));
    testsupport::SendSignal(process, SIGINT);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
}

}  // namespace

namespace {

TEST(Startup, SimulatedDevicesStreamAndEndCleanly) {
    for (const QString& option :
         {QStringLiteral("--simulate"), QStringLiteral("--simulate=camera")}) {
        TempDir home;
        QProcessEnvironment environment = PrivateEnvironment(home);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("microscope.trace.debug=true"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(DM_EXECUTABLE), {option});
        ASSERT_TRUE(process.waitForStarted(10000));
        std::string err;
        EXPECT_TRUE(WaitUntil(
            [&] {
                process.waitForReadyRead(100);
                err += process.readAllStandardError().toStdString();
                return err.find("Simple Connect(") != std::string::npos;
            },
            20000))
            << err;
        QThread::msleep(500);  // let frames flow for a moment
        testsupport::SendSignal(process, SIGTERM);
        ASSERT_TRUE(process.waitForFinished(20000));
        err += process.readAllStandardError().toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_NE(err.find("Find video capture device : Simulated Microscope"), std::string::npos);
        EXPECT_EQ(err.find("CRITICAL"), std::string::npos) << err;
        EXPECT_EQ(err.find("WARNING"), std::string::npos) << err;
    }
}

TEST(Startup, AnUnknownSimulatedKindIsRefused) {
    TempDir home;
    QProcessEnvironment environment = PrivateEnvironment(home);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const RunResult option = RunToEnd({QStringLiteral("--simulate=telescope")}, environment);
    EXPECT_EQ(option.exitCode, 2);
    EXPECT_NE(option.err.find("unknown simulated device 'telescope' (it is microscope or camera)"),
              std::string::npos)
        << option.err;
    environment.insert(QStringLiteral("DIGITAL_MICROSCOPE_SIMULATE"), QStringLiteral("telescope"));
    EXPECT_EQ(RunToEnd({}, environment).exitCode, 2);
}

}  // namespace
