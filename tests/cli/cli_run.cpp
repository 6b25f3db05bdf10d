#include "cli/cli_run.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "sim/simulated_microscope.h"

namespace clitest {

using testsupport::ReadFile;

CliRun::CliRun() : executable_(program_ / "digital-microscope-cli") {
    std::filesystem::copy_file(DM_CLI_EXECUTABLE, executable_);
    environment_ = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR",
          "DIGITAL_MICROSCOPE_SIMULATE", "LC_ALL", "LANG"}) {
        environment_.remove(QString::fromLatin1(name));
    }
    // The stills are told apart by the frame index code.
    environment_.insert(QStringLiteral("DIGITAL_MICROSCOPE_FRAME_CODE"), QStringLiteral("1"));
    environment_.insert(QStringLiteral("HOME"), QString::fromStdString(home_.path()));
    environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(home_.path()));
}

void CliRun::Start(QProcess& process, const QStringList& arguments,
                   const ChildSetup& inChild) const {
    process.setProcessEnvironment(environment_);
    // A path taken from the working folder would show up here, not in the test's folder.
    process.setWorkingDirectory(QString::fromStdString(scratch_.path()));
    if (inChild) {
        process.setChildProcessModifier(inChild);
    }
    process.start(QString::fromStdString(executable_), arguments);
}

RunResult CliRun::Run(const QStringList& arguments, const ChildSetup& inChild) const {
    QProcess process;
    Start(process, arguments, inChild);
    EXPECT_TRUE(process.waitForFinished(60000)) << "the program did not end";
    RunResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

void CliRun::SetVariable(const char* name, const char* value) {
    environment_.insert(QString::fromLatin1(name), QString::fromLatin1(value));
}

void CliRun::OpenToEveryone() const {
    ::chmod(program_.path().c_str(), 0755);
    ::chmod(scratch_.path().c_str(), 0777);
}

void DefaultTerminationSignals() {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        ::signal(signalNumber, SIG_DFL);
    }
}

std::vector<std::string> FilesIn(const std::string& folder) {
    return testsupport::EntryNames(folder);
}

namespace {

std::int32_t LittleEndian32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
                 << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

Bitmap ReadStill(const std::string& path) {
    const std::string file = ReadFile(path);
    Bitmap bitmap;
    bitmap.sizeBytes = file.size();
    if (file.size() < kBmpHeaderBytes || file.compare(0, 2, "BM") != 0) {
        return bitmap;
    }
    bitmap.width = LittleEndian32(file, 18);
    bitmap.height = LittleEndian32(file, 22);
    const std::size_t stride = (static_cast<std::size_t>(bitmap.width) * 3 + 3) & ~std::size_t{3};
    // Rows are stored bottom-up: the picture's top row comes last.
    const std::size_t topRow =
        kBmpHeaderBytes + stride * static_cast<std::size_t>(bitmap.height - 1);
    if (bitmap.height > 0 && topRow + stride <= file.size()) {
        bitmap.frameIndex = sim::ReadFrameIndexBgr(
            reinterpret_cast<const std::uint8_t*>(file.data() + topRow), bitmap.width);
    }
    return bitmap;
}

std::size_t StillBytes(int width, int height) {
    return kBmpHeaderBytes + ((static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}) *
                                 static_cast<std::size_t>(height);
}

std::size_t BitmapRowsBytes(std::uint32_t width, std::uint32_t height, unsigned bitCount) {
    return (std::size_t{width} * bitCount + 31) / 32 * 4 * height;
}

std::string BitmapHeaders(std::uint32_t width, std::uint32_t height, unsigned bitCount) {
    const std::size_t tableBytes = bitCount == 1 ? 8 : 0;
    std::string headers(kBmpHeaderBytes + tableBytes, '\0');
    const auto put32 = [&headers](std::size_t offset, std::size_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            headers[offset + i] = static_cast<char>(value >> (8 * i));
        }
    };
    headers[0] = 'B';
    headers[1] = 'M';
    put32(2, headers.size() + BitmapRowsBytes(width, height, bitCount));
    put32(10, headers.size());
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    headers[26] = 1;
    headers[28] = static_cast<char>(bitCount);
    if (bitCount == 1) {
        headers.replace(kBmpHeaderBytes + 4, 3, "\xFF\xFF\xFF");  // colour 1 is white
    }
    return headers;
}

RunResult RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    RunResult result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

RecordingProbe ProbeRecording(const std::string& path) {
    RecordingProbe probe;
    const RunResult stream = RunTool(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
         QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,r_frame_rate,nb_read_frames"), QStringLiteral("-of"),
         QStringLiteral("default=noprint_wrappers=1"), QString::fromStdString(path)});
    std::istringstream lines(stream.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "codec_name") {
            probe.codecName = value;
        } else if (key == "r_frame_rate") {
            probe.frameRate = value;
        } else if (key == "nb_read_frames" && !value.empty() &&
                   value.find_first_not_of("0123456789") == std::string::npos) {
            probe.framesRead = std::stoi(value);
        }
    }
    const RunResult decode =
        RunTool(QStringLiteral("ffmpeg"),
                {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                 QStringLiteral("-i"), QString::fromStdString(path), QStringLiteral("-f"),
                 QStringLiteral("null"), QStringLiteral("-")});
    probe.decodeErrors = decode.exitCode == 0 ? decode.err : "ffmpeg failed: " + decode.err;
    return probe;
}

RecordOutput ParseRecordOutput(const std::string& out) {
    RecordOutput parsed;
    const std::size_t end = out.find('\n');
    if (end == std::string::npos) {
        return parsed;
    }
    parsed.path = out.substr(0, end);
    std::sscanf(out.c_str() + end + 1, "frames written: %lld, dropped: %lld\n", &parsed.written,
                &parsed.dropped);
    return parsed;
}

std::string MakeBitmapFile(int width, int height, std::uint32_t seed) {
    std::string file =
        BitmapHeaders(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 24);
    file.resize(file.size() + BitmapRowsBytes(static_cast<std::uint32_t>(width),
                                              static_cast<std::uint32_t>(height), 24));
    std::uint32_t noise = seed;
    for (std::size_t i = kBmpHeaderBytes; i < file.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        file[i] = static_cast<char>(noise >> 24);
    }
    return file;
}

}  // namespace clitest
