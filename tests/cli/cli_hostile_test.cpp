// digital-microscope-cli given what a careless script or a hostile folder gives it: odd files
// where its inputs and outputs should be, signals, a file-size limit, an output that cannot
// be written. Nothing but the intended file may change, and every failure must say so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <filesystem>

#include "cli/cli_run.h"
#include "support/process_signal.h"
#include "support/sanitizers.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using clitest::CliRun;
using clitest::DefaultTerminationSignals;
using clitest::FilesIn;
using clitest::ReadStill;
using clitest::RunResult;
using clitest::StillBytes;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr uid_t kNobody = 65534;

bool IsJpeg(const std::string& path) {
    return ReadFile(path).rfind("\xFF\xD8\xFF", 0) == 0;
}

mode_t TypeOf(const std::string& path) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

std::string LinkTarget(const std::string& path) {
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

// Who runs the program: the test's own user, and a normal user as well when that is root.
struct Identity {
    const char* name;
    clitest::ChildSetup setup;
};

std::vector<Identity> Identities() {
    std::vector<Identity> identities = {{"the test's user", DefaultTerminationSignals}};
    if (::geteuid() == 0) {
        identities.push_back({"nobody", [] {
                                  DefaultTerminationSignals();
                                  if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                                      ::_exit(99);
                                  }
                              }});
    }
    return identities;
}

TEST(CliHostileInput, ToJpegReplacesOnlyARegularFileThatIsNotItsInput) {
    for (const Identity& identity : Identities()) {
        SCOPED_TRACE(identity.name);
        CliRun run;
        run.OpenToEveryone();
        const std::string dir = run.scratch().path();
        const std::string input = dir + "/in.bmp";
        const std::string bitmap = clitest::MakeBitmapFile(16, 8);
        WriteFile(input, bitmap);
        ::chmod(input.c_str(), 0666);
        ASSERT_EQ(::link(input.c_str(), (dir + "/hard.bmp").c_str()), 0);
        ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0666), 0);
        ASSERT_EQ(::symlink("real.jpg", (dir + "/link.jpg").c_str()), 0);
        WriteFile(dir + "/real.jpg", "older");
        ::chmod((dir + "/real.jpg").c_str(), 0666);
        ASSERT_EQ(::symlink("new.jpg", (dir + "/new-link.jpg").c_str()), 0);
        std::filesystem::create_directory(dir + "/folder");
        // A device node of our own where we may make one (as root); /dev/null otherwise.
        std::string device = dir + "/null";
        if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            device = "/dev/null";
        }

        const struct {
            std::string output;
            int exitCode;
            std::string message;
        } cases[] = {
            {dir + "/link.jpg", 0, ""},
            {dir + "/new-link.jpg", 0, ""},
            {dir + "/fifo", 3, "cannot write " + dir + "/fifo: not a regular file"},
            {device, 3, "cannot write " + device + ": not a regular file"},
            {dir + "/folder", 3, "cannot write " + dir + "/folder: Is a directory"},
            {dir + "/hard.bmp", 3, "names the bitmap file being converted"},
            {input, 3, "names the bitmap file being converted"},
        };
        for (const auto& c : cases) {
            const RunResult result =
                run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(input),
                         QString::fromStdString(c.output)},
                        identity.setup);
            EXPECT_EQ(result.exitCode, c.exitCode) << c.output << ": " << result.err;
            if (c.exitCode != 0) {
                EXPECT_NE(result.err.find(c.message), std::string::npos)
                    << c.output << ": " << result.err;
            }
        }
        // The links stay links and what they lead to is the picture; nothing else changed.
        EXPECT_EQ(LinkTarget(dir + "/link.jpg"), "real.jpg");
        EXPECT_TRUE(IsJpeg(dir + "/real.jpg"));
        EXPECT_EQ(LinkTarget(dir + "/new-link.jpg"), "new.jpg");
        EXPECT_TRUE(IsJpeg(dir + "/new.jpg"));
        EXPECT_EQ(TypeOf(dir + "/fifo"), S_IFIFO);
        EXPECT_EQ(TypeOf(device), S_IFCHR);
        EXPECT_EQ(ReadFile(input), bitmap);
        EXPECT_EQ(ReadFile(dir + "/hard.bmp"), bitmap);
        EXPECT_EQ(std::filesystem::hard_link_count(input), 2u);
        EXPECT_TRUE(FilesIn(dir + "/folder").empty());
        std::vector<std::string> expected = {"fifo",     "folder",       "hard.bmp", "in.bmp",
                                             "link.jpg", "new-link.jpg", "new.jpg",  "real.jpg"};
        if (device != "/dev/null") {
            expected.insert(expected.begin() + 7, "null");
        }
        EXPECT_EQ(FilesIn(dir), expected) << "no temporary file is left";
    }
}

TEST(CliHostileInput, ResolutionWritesThroughALinkAndNeverOverAFifo) {
    const QStringList resolution = {QStringLiteral("--simulate"), QStringLiteral("resolution"),
                                    QStringLiteral("640x480")};
    {
        CliRun run;
        const std::string kept = run.scratch() / "kept.dat";
        ASSERT_EQ(::symlink(kept.c_str(), run.CapConfig().c_str()), 0);
        const RunResult result = run.Run(resolution);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(LinkTarget(run.CapConfig()), kept);
        EXPECT_EQ(ReadFile(kept).size(), 88u);
    }
    {
        CliRun run;
        ASSERT_EQ(::mkfifo(run.CapConfig().c_str(), 0644), 0);
        const RunResult result = run.Run(resolution);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_NE(result.err.find("cannot write " + run.CapConfig() + ": not a regular file"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(TypeOf(run.CapConfig()), S_IFIFO);
    }
}

TEST(CliHostileInput, ToJpegRefusesInputsThatAreNotFilesWithoutWaiting) {
    CliRun run;
    const std::string dir = run.scratch().path();
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const struct {
        std::string input;
        std::string reason;
    } cases[] = {
        {dir + "/fifo", "not a regular file"},  // opening it would wait for a writer
        {"/dev/zero", "not a regular file"},
        {dir, "Is a directory"},
    };
    for (const auto& c : cases) {
        const RunResult result =
            run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(c.input),
                     QString::fromStdString(dir + "/out.jpg")});
        EXPECT_EQ(result.exitCode, 3) << c.input;
        EXPECT_NE(result.err.find("cannot read " + c.input + ": " + c.reason), std::string::npos)
            << result.err;
    }
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"fifo"});
}

// A 20000 x 20000 1-bit picture: 50 MB on disk (sparse), seconds of work to convert.
std::string MakeLargeOneBitBitmap(const std::string& path) {
    constexpr std::uint32_t kSide = 20000;
    const std::string headers = clitest::BitmapHeaders(kSide, kSide, 1);
    WriteFile(path, headers);
    std::filesystem::resize_file(path, headers.size() + clitest::BitmapRowsBytes(kSide, kSide, 1));
    return path;
}

TEST(CliHostileInput, ASignalStopsToJpegAndLeavesNoFile) {
    CliRun run;
    const std::string dir = run.scratch().path();
    const std::string input = MakeLargeOneBitBitmap(dir + "/large.bmp");
    WriteFile(dir + "/out.jpg", "older");
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signalNumber));
        QProcess process;
        run.Start(process,
                  {QStringLiteral("to-jpeg"), QString::fromStdString(input),
                   QString::fromStdString(dir + "/out.jpg")},
                  DefaultTerminationSignals);
        ASSERT_TRUE(process.waitForStarted(10000));
        // Once the temporary file is there, the conversion is under way.
        ASSERT_TRUE(testsupport::WaitUntil([&] { return FilesIn(dir).size() == 3; }, 20000))
            << "no conversion started";
        testsupport::SendSignal(process, signalNumber);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 128 + signalNumber);
        EXPECT_NE(process.readAllStandardError().toStdString().find("stopped by a signal"),
                  std::string::npos);
        EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"large.bmp", "out.jpg"}));
        EXPECT_EQ(ReadFile(dir + "/out.jpg"), "older");
    }
}

TEST(CliHostileInput, ToJpegConvertsAHugePictureInLittleMemory) {
    if (testsupport::kSanitizedBuild) {
        GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
    }
    // 400 million pixels would take 1.2 GB as red-green-blue rows; 256 MB of address space
    // is all the program gets, its libraries included.
    CliRun run;
    const std::string dir = run.scratch().path();
    const std::string input = MakeLargeOneBitBitmap(dir + "/large.bmp");
    const RunResult result = run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(input),
                                      QString::fromStdString(dir + "/large.jpg")},
                                     [] {
                                         DefaultTerminationSignals();
                                         const rlimit limit = {256 << 20, 256 << 20};
                                         ::setrlimit(RLIMIT_AS, &limit);
                                     });
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(IsJpeg(dir + "/large.jpg"));
}

// The child's files may grow to `limitBytes`; a write past that fails instead of ending it.
clitest::ChildSetup FileSizeLimit(rlim_t limitBytes) {
    return [limitBytes] {
        DefaultTerminationSignals();
        const struct rlimit limit = {limitBytes, limitBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
}

TEST(CliHostileInput, AWritePastTheFileSizeLimitFailsAndLeavesNoPartialStill) {
    CliRun run;
    // A 720 x 480 still is about 1 MB.
    const RunResult snap =
        run.Run({QStringLiteral("--simulate"), QStringLiteral("snap")}, FileSizeLimit(200'000));
    EXPECT_EQ(snap.exitCode, 3) << snap.err;
    EXPECT_NE(snap.err.find("cannot write " + run.Picture(0) + ": File too large"),
              std::string::npos)
        << snap.err;
    EXPECT_TRUE(FilesIn(run.Pictures()).empty());

    // Noise makes a JPEG file of about the bitmap's size.
    const std::string dir = run.scratch().path();
    WriteFile(dir + "/noise.bmp", clitest::MakeBitmapFile(640, 480));
    WriteFile(dir + "/out.jpg", "older");
    const RunResult convert =
        run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(dir + "/noise.bmp"),
                 QString::fromStdString(dir + "/out.jpg")},
                FileSizeLimit(200'000));
    EXPECT_EQ(convert.exitCode, 3) << convert.err;
    EXPECT_NE(convert.err.find("cannot write " + dir + "/out.jpg: File too large"),
              std::string::npos)
        << convert.err;
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"noise.bmp", "out.jpg"}));
    EXPECT_EQ(ReadFile(dir + "/out.jpg"), "older");

    // Uncompressed frames of about 1 MB: the first one is past the limit. The recording ends
    // at once rather than at its time limit, and what fit is kept and named.
    const auto start = std::chrono::steady_clock::now();
    const RunResult record = run.Run(
        {QStringLiteral("--simulate"), QStringLiteral("record"), QStringLiteral("--seconds"),
         QStringLiteral("60"), QStringLiteral("--codec"), QStringLiteral("dib")},
        FileSizeLimit(200'000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    const std::string video = run.Video("VCap0000.avi");
    EXPECT_EQ(record.exitCode, 3) << record.err;
    EXPECT_NE(record.err.find("cannot write " + video + ": writing a frame failed: File too large"),
              std::string::npos)
        << record.err;
    EXPECT_EQ(record.out.rfind(video + "\nframes written: ", 0), 0u) << record.out;
}

TEST(CliHostileInput, AHangupIgnoredByTheCallerStaysIgnored) {
    // As under nohup: the series goes on after SIGHUP, and ends on SIGTERM.
    CliRun run;
    QProcess process;
    run.Start(process,
              {QStringLiteral("--simulate"), QStringLiteral("snap"), QStringLiteral("--count"),
               QStringLiteral("1000"), QStringLiteral("--interval"), QStringLiteral("0.05")},
              [] {
                  DefaultTerminationSignals();
                  ::signal(SIGHUP, SIG_IGN);
              });
    ASSERT_TRUE(process.waitForStarted(10000));
    std::string out;
    const auto linesAtLeast = [&](std::size_t lines) {
        while (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) < lines) {
            if (!process.waitForReadyRead(30000)) {
                return false;
            }
            out += process.readAllStandardOutput().toStdString();
        }
        return true;
    };
    ASSERT_TRUE(linesAtLeast(1)) << out;
    testsupport::SendSignal(process, SIGHUP);
    const std::size_t before = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
    EXPECT_TRUE(linesAtLeast(before + 3)) << "the series ended on SIGHUP";
    testsupport::SendSignal(process, SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
}

TEST(CliHostileInput, AnOutputThatCannotBeWrittenIsAnError) {
    const struct {
        const char* what;
        clitest::ChildSetup setup;
        const char* reason;
    } outputs[] = {
        {"a full disk",
         [] {
             const int full = ::open("/dev/full", O_WRONLY);
             ::dup2(full, STDOUT_FILENO);
         },
         "No space left on device"},
        {"a closed output", [] { ::close(STDOUT_FILENO); }, "Bad file descriptor"},
    };
    const QStringList commands[] = {
        {QStringLiteral("--simulate"), QStringLiteral("snap")},
        {QStringLiteral("--simulate"), QStringLiteral("list")},
        {QStringLiteral("--simulate"), QStringLiteral("resolution"), QStringLiteral("640x480")},
        {QStringLiteral("--simulate"), QStringLiteral("record"), QStringLiteral("--seconds"),
         QStringLiteral("1")},
        {QStringLiteral("--help")},
        {QStringLiteral("to-jpeg"), QStringLiteral("--help")},
        {QStringLiteral("--version")},
    };
    for (const auto& output : outputs) {
        for (const QStringList& command : commands) {
            SCOPED_TRACE(output.what + (" " + command.join(u' ').toStdString()));
            CliRun run;
            const RunResult result = run.Run(command, output.setup);
            EXPECT_EQ(result.exitCode, 3) << result.err;
            EXPECT_NE(
                result.err.find(std::string("cannot write to standard output: ") + output.reason),
                std::string::npos)
                << result.err;
            // A still is written whole before its path is printed, and never receives it.
            for (const std::string& name : FilesIn(run.Pictures())) {
                EXPECT_EQ(ReadStill(run.Pictures() + "/" + name).sizeBytes, StillBytes(720, 480));
            }
        }
    }
}

// Decodes `jpeg` with ImageMagick and compares it with `reference`: the root mean square
// difference as a fraction of full scale, or -1 when the tool failed.
double Difference(const std::string& reference, const std::string& jpeg) {
    QProcess compare;
    compare.start(
        QStringLiteral("compare"),
        {QStringLiteral("-metric"), QStringLiteral("RMSE"), QString::fromStdString(reference),
         QString::fromStdString(jpeg), QStringLiteral("null:")});
    if (!compare.waitForFinished(30000)) {
        return -1;
    }
    // Prints "<absolute> (<fraction>)" on standard error.
    const QString text = QString::fromLocal8Bit(compare.readAllStandardError());
    const qsizetype open = text.indexOf(u'(');
    bool ok = false;
    const double fraction = text.mid(open + 1, text.indexOf(u')') - open - 1).toDouble(&ok);
    return open >= 0 && ok ? fraction : -1;
}

TEST(CliHostileInput, ToJpegSaysWhatReallyHappened) {
    CliRun run;
    const std::string dir = run.scratch().path();

    // One pixel wider than a JPEG file can be: 65501 x 1, 1 bit.
    std::string wide = clitest::BitmapHeaders(65501, 1, 1);
    wide.resize(wide.size() + clitest::BitmapRowsBytes(65501, 1, 1), '\0');
    WriteFile(dir + "/wide.bmp", wide);
    const RunResult tooWide =
        run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(dir + "/wide.bmp"),
                 QString::fromStdString(dir + "/wide.jpg")});
    EXPECT_EQ(tooWide.exitCode, 3);
    EXPECT_NE(tooWide.err.find("the picture is 65501 x 1 pixels, and a JPEG file holds at most "
                               "65500 on a side"),
              std::string::npos)
        << tooWide.err;

    // OS/2 bitmaps (the 12-byte header) as ImageMagick writes them, in colour-table and
    // direct colours.
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    ASSERT_FALSE(convert.isEmpty()) << "ImageMagick is missing: scripts/setup installs it";
    for (const char* extra : {"-colors", "-depth"}) {
        const std::string os2 = dir + "/os2" + extra + ".bmp";
        const bool indexed = std::string_view(extra) == "-colors";
        QProcess make;
        make.start(convert, {QStringLiteral("-size"), QStringLiteral("60x40"),
                             QStringLiteral("gradient:red-blue"), QString::fromLatin1(extra),
                             indexed ? QStringLiteral("16") : QStringLiteral("8"),
                             QString::fromStdString("BMP2:" + os2)});
        ASSERT_TRUE(make.waitForFinished(30000));
        ASSERT_EQ(ReadFile(os2).substr(14, 4), std::string("\x0C\0\0\0", 4)) << "an OS/2 header";
        const RunResult result = run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(os2),
                                          QString::fromStdString(os2 + ".jpg")});
        ASSERT_EQ(result.exitCode, 0) << extra << ": " << result.err;
        const double difference = Difference(os2, os2 + ".jpg");
        EXPECT_GE(difference, 0.0) << extra;
        EXPECT_LT(difference, 0.05) << extra;
    }

    // The longest name the file system takes is a name the output may have.
    const std::string longName = dir + "/" + std::string(250, 'n') + ".jpg";
    const RunResult named =
        run.Run({QStringLiteral("to-jpeg"), QString::fromStdString(dir + "/os2-depth.bmp"),
                 QString::fromStdString(longName)});
    EXPECT_EQ(named.exitCode, 0) << named.err;
    EXPECT_TRUE(IsJpeg(longName));
}

}  // namespace
