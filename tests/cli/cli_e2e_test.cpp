// Runs the built digital-microscope-cli as a script would (see cli_run.h).
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "cli/cli_run.h"
#include "sim/simulated_microscope.h"
#include "support/process_signal.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using clitest::Bitmap;
using clitest::CliRun;
using clitest::FilesIn;
using clitest::kBmpHeaderBytes;
using clitest::ReadStill;
using clitest::RunResult;
using clitest::RunTool;
using clitest::StillBytes;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(CliProgram, SnapWritesAStillOfTheFrameSizeInUse) {
    // Without CapConfig.dat each kind starts in its default size.
    const struct {
        const char* option;
        int width;
        int height;
    } kinds[] = {{"--simulate", 720, 480}, {"--simulate=camera", 1280, 1024}};
    for (const auto& kind : kinds) {
        CliRun run;
        const RunResult result =
            run.Run({QString::fromLatin1(kind.option), QStringLiteral("snap")});
        ASSERT_EQ(result.exitCode, 0) << kind.option << ": " << result.err;
        EXPECT_EQ(result.out, run.Picture(0) + "\n");
        EXPECT_EQ(result.err, "");
        const Bitmap still = ReadStill(run.Picture(0));
        EXPECT_EQ(still.width, kind.width) << kind.option;
        EXPECT_EQ(still.height, kind.height) << kind.option;
        EXPECT_EQ(still.sizeBytes, StillBytes(kind.width, kind.height)) << kind.option;
        EXPECT_TRUE(still.frameIndex.has_value()) << kind.option;
        EXPECT_EQ(FilesIn(run.Pictures()), std::vector<std::string>{"StillCap0.bmp"});
    }
}

TEST(CliProgram, SnapPrintsAnAbsolutePathForARelativeDocumentsFolder) {
    CliRun run;
    ASSERT_TRUE(std::filesystem::create_directories(run.Home() + "/.config"));
    WriteFile(run.Home() + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"Lab notes\"\n");
    const RunResult result = run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string still = run.Home() + "/Lab notes/Microscope files/Picture/StillCap0.bmp";
    EXPECT_EQ(result.out, still + "\n");
    EXPECT_EQ(ReadStill(still).sizeBytes, StillBytes(720, 480));
    EXPECT_FALSE(Exists(run.scratch() / "Lab notes"));
}

TEST(CliProgram, SnapWritesPngAndTiffStillsWithTheMicroscopeTheTimeAndTheScale) {
    if (RunTool(QStringLiteral("identify"), {QStringLiteral("-version")}).exitCode != 0) {
        GTEST_SKIP() << "ImageMagick's identify is not installed";
    }
    const struct {
        const char* format;
        const char* name;
        std::vector<std::string> lines;  // of identify -verbose
    } cases[] = {
        {"png",
         "StillCap0.png",
         {"  Geometry: 720x480+0+0\n", "    Source: Simulated Microscope\n",
          "    Software: digital-microscope ", "    Creation Time: 20", "  Resolution: 2500x2500\n",
          "    Calibration: x100\n"}},
        {"TIFF",
         "StillCap0.tif",
         {"  Geometry: 720x480+0+0\n", "    tiff:model: Simulated Microscope\n",
          "    tiff:software: digital-microscope ", "    tiff:timestamp: 20",
          "  Resolution: 2500x2500\n", "    comment: Calibration: x100\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        CliRun run;
        // The window calibrated the microscope at 1440 x 960 with 2 µm a pixel: at its 720 x
        // 480 frames that is 4 µm, 2500 pixels a centimetre.
        const std::string config = run.Home() + "/.config";
        std::filesystem::create_directories(config + "/digital-microscope");
        WriteFile(config + "/digital-microscope/calibration.ini",
                  "[General]\ncalibrationCount=1\ncurrentCount=1\n"
                  "[calibrations]\n1\\device=usb#vid_eb1a&pid_1860&mi_00\n1\\height=960\n"
                  "1\\micrometresPerPixel=2\n1\\name=x100\n1\\width=1440\nsize=1\n"
                  "[current]\n1\\device=usb#vid_eb1a&pid_1860&mi_00\n1\\name=x100\nsize=1\n");
        run.SetVariable("XDG_CONFIG_HOME", config.c_str());
        const RunResult result =
            run.Run({QStringLiteral("--simulate"), QStringLiteral("snap"),
                     QStringLiteral("--format"), QString::fromLatin1(c.format)});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::string path = run.Pictures() + "/" + c.name;
        EXPECT_EQ(result.out, path + "\n");
        EXPECT_EQ(FilesIn(run.Pictures()), std::vector<std::string>{c.name});
        const std::string identified =
            RunTool(QStringLiteral("identify"),
                    {QStringLiteral("-verbose"), QString::fromStdString(path)})
                .out;
        for (const std::string& line : c.lines) {
            EXPECT_NE(identified.find(line), std::string::npos) << line << "\n" << identified;
        }
    }
}

TEST(CliProgram, ASeriesTakesTheFirstFreeNumbersAndNewFrames) {
    CliRun run;
    ASSERT_TRUE(std::filesystem::create_directories(run.Pictures()));
    for (int number : {0, 1, 3, 4}) {
        WriteFile(run.Picture(number), "taken before");
    }
    const RunResult result = run.Run({QStringLiteral("--simulate"), QStringLiteral("snap"),
                                      QStringLiteral("--count"), QStringLiteral("2")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, run.Picture(2) + "\n" + run.Picture(5) + "\n");
    for (int number : {0, 1, 3, 4}) {
        EXPECT_EQ(ReadFile(run.Picture(number)), "taken before");
    }
    const Bitmap first = ReadStill(run.Picture(2));
    const Bitmap second = ReadStill(run.Picture(5));
    ASSERT_TRUE(first.frameIndex && second.frameIndex);
    EXPECT_LT(*first.frameIndex, *second.frameIndex);
    EXPECT_EQ(FilesIn(run.Pictures()).size(), 6u);
}

// `time` as --start takes it, on a clock in UTC.
QString StartText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc = {};
    gmtime_r(&seconds, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return QString::fromLatin1(text);
}

TEST(CliProgram, ASeriesWithAStartBeginsWhenTheClockShowsIt) {
    using namespace std::chrono;
    CliRun run;
    run.SetVariable("TZ", "UTC0");
    const auto past = floor<seconds>(system_clock::now()) - 1s;
    const RunResult refused = run.Run({QStringLiteral("--simulate"), QStringLiteral("snap"),
                                       QStringLiteral("--start"), StartText(past)});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(
        refused.err,
        "digital-microscope-cli: The time of your setting must be should be a future time!\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(FilesIn(run.Pictures()).empty());

    // A whole second, at least two seconds away.
    const auto start = floor<seconds>(system_clock::now() + 2s) + 1s;
    QProcess process;
    run.Start(process, {QStringLiteral("--simulate"), QStringLiteral("snap"),
                        QStringLiteral("--start"), StartText(start), QStringLiteral("--count"),
                        QStringLiteral("2"), QStringLiteral("--interval"), QStringLiteral("1")});
    ASSERT_TRUE(process.waitForStarted(10000));
    // When each path was seen: a still is printed after it is written.
    std::string out;
    std::vector<system_clock::time_point> printedAt;
    while (printedAt.size() < 2 && process.waitForReadyRead(30000)) {
        out += process.readAllStandardOutput().toStdString();
        printedAt.resize(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')),
                         system_clock::now());
    }
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(out, run.Picture(0) + "\n" + run.Picture(1) + "\n");
    ASSERT_EQ(printedAt.size(), 2u);
    const auto afterStartMs = [start](system_clock::time_point time) {
        return duration_cast<milliseconds>(time - start).count();
    };
    EXPECT_GE(afterStartMs(printedAt[0]), 0);
    // Generous: the machine may be busy.
    EXPECT_LE(afterStartMs(printedAt[0]), 1500);
    EXPECT_GE(afterStartMs(printedAt[1]), 1000);
}

TEST(CliProgram, TheChosenResolutionIsKeptForTheNextSnap) {
    CliRun run;
    const RunResult resolution = run.Run(
        {QStringLiteral("--simulate"), QStringLiteral("resolution"), QStringLiteral("640x480")});
    ASSERT_EQ(resolution.exitCode, 0) << resolution.err;
    EXPECT_EQ(resolution.out, "640x480\n");
    EXPECT_EQ(ReadFile(run.CapConfig()).size(), 88u);

    const RunResult snap = run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")});
    ASSERT_EQ(snap.exitCode, 0) << snap.err;
    EXPECT_EQ(ReadStill(run.Picture(0)).sizeBytes, 921654u);

    // A size the device does not offer is refused, says what it offers, and the kept size
    // stays.
    const RunResult refused = run.Run(
        {QStringLiteral("--simulate"), QStringLiteral("resolution"), QStringLiteral("1280x1024")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("does not offer 1280x1024; it offers 320x240, 640x480"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "");
    const RunResult again = run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(ReadStill(run.Picture(1)).sizeBytes, 921654u);
}

TEST(CliProgram, ToJpegWritesAPictureDjpegReadsAtTheSameSize) {
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    ASSERT_FALSE(djpeg.isEmpty()) << "djpeg is missing: scripts/setup installs it";
    CliRun run;
    ASSERT_EQ(run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")}).exitCode, 0);
    const std::string jpeg = run.scratch() / "still.jpg";
    const RunResult convert =
        run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(run.Picture(0)),
                 QString::fromStdString(jpeg)});
    ASSERT_EQ(convert.exitCode, 0) << convert.err;
    EXPECT_EQ(convert.out, "");

    QProcess decoder;
    decoder.start(djpeg, {QStringLiteral("-pnm"), QString::fromStdString(jpeg)});
    ASSERT_TRUE(decoder.waitForFinished(30000));
    EXPECT_EQ(decoder.exitCode(), 0) << decoder.readAllStandardError().toStdString();
    const QByteArray picture = decoder.readAllStandardOutput();
    EXPECT_TRUE(picture.startsWith("P6\n720 480\n255\n")) << picture.left(20).toStdString();
}

TEST(CliProgram, ToJpegFailuresLeaveNoFile) {
    CliRun run;
    const std::string folder = run.scratch().path();
    const std::string older = folder + "/older.jpg";
    WriteFile(older, "an older picture");
    WriteFile(folder + "/text.bmp", "not a bitmap");
    // A bitmap whose rows end long before its header says.
    std::string truncated = "BM";
    truncated.resize(kBmpHeaderBytes + 10, '\0');
    truncated[10] = static_cast<char>(kBmpHeaderBytes);
    truncated[14] = 40;
    truncated[18] = 100;
    truncated[22] = 100;
    truncated[26] = 1;
    truncated[28] = 24;
    WriteFile(folder + "/truncated.bmp", truncated);
    ASSERT_EQ(run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")}).exitCode, 0);

    const struct {
        std::string input;
        std::string output;
        std::string message;
    } cases[] = {
        {folder + "/missing.bmp", folder + "/a.jpg", "cannot read"},
        {folder + "/text.bmp", folder + "/a.jpg", "not a bitmap file"},
        {folder + "/truncated.bmp", older, "not a bitmap file"},
        {folder, folder + "/a.jpg", "cannot read"},
        {run.Picture(0), folder + "/no folder/a.jpg",
         "cannot write " + folder + "/no folder/a.jpg: No such file or directory"},
    };
    for (const auto& c : cases) {
        const RunResult result =
            run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(c.input),
                     QString::fromStdString(c.output)});
        EXPECT_EQ(result.exitCode, 3) << c.input;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.input << ": " << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(ReadFile(older), "an older picture");
    EXPECT_EQ(FilesIn(folder),
              (std::vector<std::string>{"older.jpg", "text.bmp", "truncated.bmp"}));
}

TEST(CliProgram, ASnapWithoutAUsablePictureFolderNamesTheFolder) {
    CliRun run;
    // The picture folder's name is taken by a file.
    ASSERT_TRUE(std::filesystem::create_directories(run.Documents() + "/Microscope files"));
    WriteFile(run.Pictures(), "in the way");
    const RunResult result = run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.err, "digital-microscope-cli: cannot make folder " + run.Pictures() +
                              ": a file of that name is in the way\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFile(run.Pictures()), "in the way");
}

// The mean of a still's colour samples (its rows have no padding at the sizes used here).
double MeanLevel(const std::string& path) {
    const std::string file = ReadFile(path);
    double sum = 0.0;
    for (std::size_t i = kBmpHeaderBytes; i < file.size(); ++i) {
        sum += static_cast<unsigned char>(file[i]);
    }
    return file.size() > kBmpHeaderBytes ? sum / double(file.size() - kBmpHeaderBytes) : 0.0;
}

TEST(CliProgram, PropertiesAndTheNormSetInOneRunHoldForTheNext) {
    CliRun run;
    const auto simulated = [&run](QStringList arguments) {
        arguments.prepend(QStringLiteral("--simulate"));
        return run.Run(arguments);
    };
    const RunResult bright =
        simulated({QStringLiteral("properties"), QStringLiteral("brightness=64")});
    ASSERT_EQ(bright.exitCode, 0) << bright.err;
    EXPECT_EQ(bright.out, "name\tminimum\tmaximum\tdefault\tvalue\nbrightness\t-64\t64\t0\t64\n");
    ASSERT_EQ(simulated({QStringLiteral("snap")}).exitCode, 0);
    ASSERT_EQ(simulated({QStringLiteral("properties"), QStringLiteral("brightness=0")}).exitCode,
              0);
    ASSERT_EQ(simulated({QStringLiteral("snap")}).exitCode, 0);
    EXPECT_GT(MeanLevel(run.Picture(0)), MeanLevel(run.Picture(1)) + 30.0);

    // One value out of range: nothing is set.
    const RunResult refused =
        simulated({QStringLiteral("properties"), QStringLiteral("contrast=10"),
                   QStringLiteral("brightness=999")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "digital-microscope-cli: brightness takes -64 to 64, not 999\n");
    EXPECT_EQ(refused.out, "");
    const RunResult listed = simulated({QStringLiteral("properties")});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("\nbrightness\t-64\t64\t0\t0\ncontrast\t0\t64\t32\t32\n"),
              std::string::npos)
        << listed.out;

    EXPECT_EQ(simulated({QStringLiteral("norm"), QStringLiteral("pal")}).out, "pal\n");
    EXPECT_EQ(simulated({QStringLiteral("norm")}).out, "pal\n");
    const RunResult camera = run.Run(
        {QStringLiteral("--simulate=camera"), QStringLiteral("norm"), QStringLiteral("pal")});
    EXPECT_EQ(camera.exitCode, 1);
    EXPECT_NE(camera.err.find("has no video norm"), std::string::npos) << camera.err;
}

TEST(CliProgram, WithoutADeviceEveryDeviceCommandExits2) {
    CliRun run;
    const RunResult list = run.Run({QStringLiteral("list")});
    if (list.exitCode == 0) {
        GTEST_SKIP() << "a microscope is plugged in: " << list.out;
    }
    EXPECT_EQ(list.exitCode, 2);
    EXPECT_NE(list.err, "");

    const RunResult snap = run.Run({QStringLiteral("snap")});
    EXPECT_EQ(snap.exitCode, 2);
    EXPECT_NE(snap.err.find("no supported microscope"), std::string::npos) << snap.err;
    EXPECT_EQ(snap.out, "");
    EXPECT_TRUE(FilesIn(run.Pictures()).empty());

    const RunResult resolution = run.Run({QStringLiteral("resolution"), QStringLiteral("640x480")});
    EXPECT_EQ(resolution.exitCode, 2);
    EXPECT_NE(resolution.err.find("no supported microscope"), std::string::npos);
    EXPECT_FALSE(Exists(run.CapConfig()));

    const RunResult record = run.Run({QStringLiteral("record")});
    EXPECT_EQ(record.exitCode, 2);
    EXPECT_NE(record.err.find("no supported microscope"), std::string::npos) << record.err;
    EXPECT_EQ(record.out, "");
    EXPECT_TRUE(FilesIn(run.Videos()).empty());
}

TEST(CliProgram, UsageErrorsExit1WithAMessage) {
    CliRun run;
    const QStringList cases[] = {
        {},
        {QStringLiteral("shoot")},
        {QStringLiteral("--simulate"), QStringLiteral("snap"), QStringLiteral("--count"),
         QStringLiteral("0")},
        {QStringLiteral("--simulate"), QStringLiteral("resolution"), QStringLiteral("640")},
        {QStringLiteral("--simulate=telescope"), QStringLiteral("list")},
        {QStringLiteral("to-jpeg"), QStringLiteral("a.bmp")},
        {QStringLiteral("--simulate"), QStringLiteral("record"), QStringLiteral("--fps"),
         QStringLiteral("31")},
        {QStringLiteral("--simulate"), QStringLiteral("record"), QStringLiteral("--codec"),
         QStringLiteral("xvid")},
    };
    for (const QStringList& arguments : cases) {
        const RunResult result = run.Run(arguments);
        EXPECT_EQ(result.exitCode, 1) << arguments.join(u' ').toStdString();
        EXPECT_NE(result.err.find("Try 'digital-microscope-cli"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(Exists(run.Documents()));

    // An unknown kind in the variable matters only to the commands that use a device.
    run.SetVariable("DIGITAL_MICROSCOPE_SIMULATE", "telescope");
    const RunResult list = run.Run({QStringLiteral("list")});
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_NE(list.err.find("DIGITAL_MICROSCOPE_SIMULATE"), std::string::npos) << list.err;
    EXPECT_EQ(run.Run({QStringLiteral("to-jpeg"), QStringLiteral("/no/such.bmp"),
                       QString::fromStdString(run.scratch() / "x.jpg")})
                  .exitCode,
              3);
}

TEST(CliProgram, TheEnvironmentVariableChoosesTheSimulatedDevice) {
    CliRun run;
    run.SetVariable("DIGITAL_MICROSCOPE_SIMULATE", "camera");
    const RunResult camera = run.Run({QStringLiteral("list")});
    EXPECT_EQ(camera.exitCode, 0) << camera.err;
    EXPECT_EQ(camera.out, "0\tSimulated Microscope\t1\t*\n");
    // The option wins over the variable.
    EXPECT_EQ(run.Run({QStringLiteral("--simulate=microscope"), QStringLiteral("list")}).out,
              "0\tSimulated Microscope\t0\t*\n");
}

TEST(CliProgram, HelpAndVersionNeedNoDevice) {
    CliRun run;
    const RunResult help = run.Run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: digital-microscope-cli", 0), 0u) << help.out;
    EXPECT_NE(
        help.out.find("after a command, show that\n                         command's help\n"),
        std::string::npos)
        << help.out;
    for (const char* command :
         {"list", "snap", "resolution", "record", "to-jpeg", "properties", "norm"}) {
        const RunResult commandHelp =
            run.Run({QString::fromLatin1(command), QStringLiteral("--help")});
        EXPECT_EQ(commandHelp.exitCode, 0) << command;
        EXPECT_NE(commandHelp.out.find(command), std::string::npos) << commandHelp.out;
        EXPECT_NE(commandHelp.out, help.out) << command;
    }
    const RunResult version = run.Run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("digital-microscope-cli ", 0), 0u) << version.out;
    EXPECT_FALSE(Exists(run.Documents()));
}

TEST(CliProgram, ATerminatedSeriesStopsInOrderAndKeepsWholeStills) {
    CliRun run;
    QProcess process;
    process.setProcessEnvironment(run.environment());
    process.start(QString::fromStdString(run.executable()),
                  {QStringLiteral("--simulate"), QStringLiteral("snap"), QStringLiteral("--count"),
                   QStringLiteral("1000"), QStringLiteral("--interval"), QStringLiteral("0.05")});
    ASSERT_TRUE(process.waitForStarted(10000));
    std::string out;
    while (out.find('\n') == std::string::npos && process.waitForReadyRead(30000)) {
        out += process.readAllStandardOutput().toStdString();
    }
    ASSERT_EQ(out.rfind(run.Picture(0) + "\n", 0), 0u) << out;

    testsupport::SendSignal(process, SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
    EXPECT_NE(process.readAllStandardError().toStdString().find("stopped by a signal"),
              std::string::npos);
    const std::vector<std::string> stills = FilesIn(run.Pictures());
    ASSERT_FALSE(stills.empty());
    for (const std::string& name : stills) {
        EXPECT_EQ(name.rfind("StillCap", 0), 0u) << name;
        EXPECT_EQ(ReadStill(run.Pictures() + "/" + name).sizeBytes, StillBytes(720, 480)) << name;
    }
}

// The whole output of a record command that wrote `expected`, and its counts.
clitest::RecordOutput ExpectRecordOutput(const std::string& out, const std::string& expected) {
    const clitest::RecordOutput parsed = clitest::ParseRecordOutput(out);
    EXPECT_EQ(parsed.path, expected);
    EXPECT_EQ(out, expected + "\nframes written: " + std::to_string(parsed.written) +
                       ", dropped: " + std::to_string(parsed.dropped) + "\n");
    return parsed;
}

TEST(CliProgram, RecordWritesAPlayableFileAtTheChosenRateWithTheChosenCodec) {
    const struct {
        const char* codec;
        int framesPerSecond;
        const char* codecName;  // as ffprobe names it
    } cases[] = {
        {"msvc", 15, "msvideo1"},
        {"mjpg", 30, "mjpeg"},
        {"ffv1", 5, "ffv1"},
    };
    constexpr int kSeconds = 2;
    CliRun run;
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        const RunResult result = run.Run(
            {QStringLiteral("--simulate"), QStringLiteral("record"), QStringLiteral("--seconds"),
             QString::number(kSeconds), QStringLiteral("--fps"), QString::number(c.framesPerSecond),
             QStringLiteral("--codec"), QString::fromLatin1(c.codec)});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");
        char name[16];
        std::snprintf(name, sizeof name, "VCap%04d.avi", number++);
        const clitest::RecordOutput printed = ExpectRecordOutput(result.out, run.Video(name));
        const clitest::RecordingProbe probe = clitest::ProbeRecording(run.Video(name));
        EXPECT_EQ(probe.codecName, c.codecName);
        EXPECT_EQ(probe.frameRate, std::to_string(c.framesPerSecond) + "/1");
        EXPECT_NEAR(probe.framesRead, kSeconds * c.framesPerSecond, 2);
        EXPECT_EQ(probe.framesRead, printed.written);
        EXPECT_EQ(printed.dropped, 0);
        EXPECT_EQ(probe.decodeErrors, "");
    }
    EXPECT_FALSE(Exists(run.Pictures() + "/StillCap0.bmp"));
}

TEST(CliProgram, ASignalEndsARecordingWithAPlayableFile) {
    CliRun run;
    QProcess process;
    run.Start(process, {QStringLiteral("--simulate"), QStringLiteral("record"),
                        QStringLiteral("--seconds"), QStringLiteral("600")});
    ASSERT_TRUE(process.waitForStarted(10000));
    // The file appears once the recording runs; a second of frames follows.
    const std::string file = run.Video("VCap0000.avi");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Exists(file); }, 30000));
    ASSERT_FALSE(process.waitForFinished(1000));
    testsupport::SendSignal(process, SIGINT);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardError().toStdString(), "");
    const clitest::RecordOutput printed =
        ExpectRecordOutput(process.readAllStandardOutput().toStdString(), file);
    const clitest::RecordingProbe probe = clitest::ProbeRecording(file);
    EXPECT_GT(probe.framesRead, 5);
    EXPECT_EQ(probe.framesRead, printed.written);
    EXPECT_EQ(probe.decodeErrors, "");
}

// The simulated frames carry their index: a recording at the device's rate holds every
// frame the device sent, in order, one per stored frame.
TEST(CliProgram, ARecordingHoldsEveryFrameInOrder) {
    constexpr int kWidth = 640;
    constexpr int kHeight = 480;
    constexpr int kSeconds = 10;
    constexpr int kFramesPerSecond = 15;
    CliRun run;
    ASSERT_EQ(run.Run({QStringLiteral("--simulate"), QStringLiteral("resolution"),
                       QStringLiteral("640x480")})
                  .exitCode,
              0);
    const RunResult result = run.Run({QStringLiteral("--simulate"), QStringLiteral("record"),
                                      QStringLiteral("--seconds"), QString::number(kSeconds),
                                      QStringLiteral("--fps"), QString::number(kFramesPerSecond),
                                      QStringLiteral("--codec"), QStringLiteral("msvc")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string file = run.Video("VCap0000.avi");
    const clitest::RecordOutput printed = ExpectRecordOutput(result.out, file);

    // Every stored frame, as it is stored: no frame made up for a gap in time.
    const RunResult decoded = clitest::RunTool(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
         QStringLiteral("-i"), QString::fromStdString(file), QStringLiteral("-fps_mode"),
         QStringLiteral("passthrough"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
         QStringLiteral("-pix_fmt"), QStringLiteral("bgr24"), QStringLiteral("-")});
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_EQ(decoded.err, "");
    const std::size_t frameBytes = std::size_t{kWidth} * kHeight * 3;
    ASSERT_EQ(decoded.out.size() % frameBytes, 0u);
    std::vector<std::uint32_t> indices;
    std::string unreadable;
    for (std::size_t at = 0; at < decoded.out.size(); at += frameBytes) {
        // The middle row of the code's cells.
        const auto* row = reinterpret_cast<const std::uint8_t*>(decoded.out.data() + at) +
                          std::size_t{kWidth} * 3 * (sim::kIndexCellPixels / 2);
        if (const std::optional<std::uint32_t> index = sim::ReadFrameIndexBgr(row, kWidth)) {
            indices.push_back(*index);
        } else {
            unreadable += " " + std::to_string(at / frameBytes);
        }
    }
    EXPECT_EQ(unreadable, "") << "frames without a readable code";
    EXPECT_EQ(static_cast<long long>(indices.size()), printed.written);
    EXPECT_NEAR(static_cast<double>(indices.size()), kSeconds * kFramesPerSecond, 3);
    std::string gaps;
    for (std::size_t i = 1; i < indices.size(); ++i) {
        if (indices[i] != indices[i - 1] + 1) {
            gaps += " " + std::to_string(indices[i - 1]) + "->" + std::to_string(indices[i]);
        }
    }
    EXPECT_EQ(gaps, "") << "frames missing or repeated between these indices";
}

}  // namespace
