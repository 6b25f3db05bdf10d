#pragma once

// Runs the built digital-microscope-cli as a script would: no display, a private home, and
// a private copy of the program (CapConfig.dat is kept beside the executable, so no test
// sees another's choice of frame size).

#include <QProcess>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace clitest {

inline constexpr std::size_t kBmpHeaderBytes = 54;

struct RunResult {
    int exitCode = -1;  // -1 when the program did not end normally (a signal ended it)
    std::string out;
    std::string err;
};

// Runs in the child between fork and exec: limits, signal dispositions, descriptors.
using ChildSetup = std::function<void()>;

class CliRun {
public:
    CliRun();

    RunResult Run(const QStringList& arguments, const ChildSetup& inChild = {}) const;
    // Starts the program and returns at once.
    void Start(QProcess& process, const QStringList& arguments,
               const ChildSetup& inChild = {}) const;

    void SetVariable(const char* name, const char* value);
    const QProcessEnvironment& environment() const { return environment_; }
    const std::string& executable() const { return executable_; }
    const std::string& Home() const { return home_.path(); }
    std::string Documents() const { return home_ / "Documents"; }
    std::string Pictures() const { return home_ / "Documents/Microscope files/Picture"; }
    std::string Picture(int number) const {
        return Pictures() + "/StillCap" + std::to_string(number) + ".bmp";
    }
    std::string Videos() const { return home_ / "Documents/Microscope files/Video"; }
    std::string Video(const char* name) const { return Videos() + "/" + name; }
    std::string CapConfig() const { return program_ / "CapConfig.dat"; }
    const testsupport::TempDir& scratch() const { return scratch_; }

    // Lets every user run the program copy and use the scratch folder, for runs as another
    // user than the test's.
    void OpenToEveryone() const;

private:
    testsupport::TempDir home_;
    testsupport::TempDir program_;
    testsupport::TempDir scratch_;
    std::string executable_;
    QProcessEnvironment environment_;
};

// What a child set-up does before the program starts: termination signals back to their
// defaults, whatever the test runner was started with.
void DefaultTerminationSignals();

std::vector<std::string> FilesIn(const std::string& folder);

struct Bitmap {
    int width = 0;
    int height = 0;
    std::size_t sizeBytes = 0;
    std::optional<std::uint32_t> frameIndex;  // the simulated frame the still holds
};

Bitmap ReadStill(const std::string& path);
std::size_t StillBytes(int width, int height);

// The bytes of a bottom-up BI_RGB picture's rows, and its file and info headers followed by
// the colour table (black and white for 1 bit, none for 24 bits): the rows come next.
std::size_t BitmapRowsBytes(std::uint32_t width, std::uint32_t height, unsigned bitCount);
std::string BitmapHeaders(std::uint32_t width, std::uint32_t height, unsigned bitCount);

// Runs an installed tool such as ffprobe with `arguments`; exitCode -1 when it could not run.
RunResult RunTool(const QString& program, const QStringList& arguments);

// What ffprobe finds in a recording: its video stream's codec, declared rate ("15/1") and
// the frames it reads; and whatever `ffmpeg -v error` says while decoding it all.
struct RecordingProbe {
    std::string codecName;
    std::string frameRate;
    int framesRead = -1;
    std::string decodeErrors;
};
RecordingProbe ProbeRecording(const std::string& path);

// What a record command prints: the file's path, and its counts.
struct RecordOutput {
    std::string path;
    long long written = -1;
    long long dropped = -1;
};
RecordOutput ParseRecordOutput(const std::string& out);

// A 24-bit bottom-up bitmap file whose pixels are a noisy pattern from `seed`.
std::string MakeBitmapFile(int width, int height, std::uint32_t seed = 1);

}  // namespace clitest
