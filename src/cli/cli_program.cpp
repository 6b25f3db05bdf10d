#include "cli/cli_program.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/program_paths.h"
#include "app/simulate_option.h"
#include "app/startup.h"
#include "app/termination_signals.h"
#include "app/version.h"
#include "capture/capture_settings.h"
#include "cli/command_line.h"
#include "cli/command_session.h"
#include "cli/console.h"
#include "cli/device_commands.h"
#include "cli/file_commands.h"
#include "cli/usage.h"
#include "output/calibration.h"
#include "output/still_file.h"
#include "platform/standard_streams.h"

namespace {

// How long a device may take to deliver a frame or a still before that is an error.
constexpr std::chrono::seconds kFrameTimeout{5};

// Said before the device is started, and in the folder's words rather than as a file that
// cannot be written.
int FolderFailed(const FolderFailure& failure, const Console& console) {
    return console.Fail(kExitFile,
                        failure.step == FolderFailure::kMake ? "cannot make folder %s: %s"
                                                             : "cannot write into folder %s: %s",
                        failure.path.c_str(), failure.Reason().c_str());
}

int SnapIntoPictureFolder(CommandSession& session, const CommandLine& line,
                          const Console& console) {
    FolderFailure storageFailure;
    const ProgramPaths paths = FixProgramPaths(SystemStartupEnvironment(), &storageFailure);
    // A snap needs no video folder.
    if (storageFailure && storageFailure.path != paths.videoFolder) {
        return FolderFailed(storageFailure, console);
    }
    session.engine().SetCapConfigPath(CapConfigPath(paths.programFolder));
    StillWriter writer(paths.pictureFolder);
    // The stills record the scale of the calibration the window chose for the device; a file
    // of calibrations that cannot be read whole is said, and the snap goes on with what was
    // read. The device's name and each still's time are filled in as it is saved.
    CalibrationStore calibrations;
    if (!calibrations.Load() && !calibrations.error().isEmpty()) {
        (void)console.Fail(kExitSuccess, "the calibrations in %s could not be read: %s",
                           calibrations.filePath().toLocal8Bit().constData(),
                           calibrations.error().toLocal8Bit().constData());
    }
    const StillOutput output{
        .format = line.stillFormat, .metadata = {}, .calibrations = &calibrations};
    return RunSnap(
        session, writer,
        {.count = line.count, .intervalMs = line.intervalMs, .start = line.start, .output = output},
        console);
}

int RecordIntoVideoFolder(CommandSession& session, const CommandLine& line,
                          const Console& console) {
    FolderFailure storageFailure;
    const ProgramPaths paths = FixProgramPaths(SystemStartupEnvironment(), &storageFailure);
    // A recording needs no picture folder.
    if (storageFailure && storageFailure.path != paths.pictureFolder) {
        return FolderFailed(storageFailure, console);
    }
    session.engine().SetCapConfigPath(CapConfigPath(paths.programFolder));
    return RunRecord(session, paths.videoFolder,
                     {line.recordSeconds, line.framesPerSecond, line.compression}, console);
}

int ChooseResolution(CommandSession& session, const CommandLine& line, const Console& console) {
    const std::string capConfigPath =
        CapConfigPath(ProgramFolderFromExecutable(RunningExecutablePath()));
    session.engine().SetCapConfigPath(capConfigPath);
    return RunResolution(session, capConfigPath, line.width, line.height, console);
}

int RunDeviceCommand(int argc, char** argv, const CommandLine& line, const Console& console) {
    std::optional<int> simulatedKind = line.simulatedKind;
    if (!simulatedKind) {
        simulatedKind = SimulatedKindFromEnvironment();
        if (!simulatedKind) {
            return console.Fail(kExitUsage, "%s must be microscope or camera", kSimulateVariable);
        }
    }
    // The windowed program's name, so that both keep CapConfig.dat in the same
    // configuration folder when the program folder is not writable.
    QCoreApplication::setApplicationName(QString::fromUtf8(kProgramName));
    // With the name, the "Software" a PNG or TIFF still records.
    QCoreApplication::setApplicationVersion(QString::fromUtf8(kProgramVersion));
    QCoreApplication application(argc, argv);

    CommandSession session(SystemCaptureSide(*simulatedKind, FrameCodeFromEnvironment(),
                                             SimulatedStateFile(*simulatedKind)),
                           kFrameTimeout);
    TerminationSignals termination(
        [&session, &termination] { session.Interrupt(termination.lastSignal()); });
    int code = kExitSuccess;
    switch (line.command) {
        case Command::List:
            code = RunList(session, console);
            break;
        case Command::Snap:
            code = SnapIntoPictureFolder(session, line, console);
            break;
        case Command::Resolution:
            code = ChooseResolution(session, line, console);
            break;
        case Command::Record:
            code = RecordIntoVideoFolder(session, line, console);
            break;
        case Command::Properties:
            code = RunProperties(session, line.propertySettings, console);
            break;
        case Command::Norm:
            code = RunNorm(session, line.norm, console);
            break;
        case Command::ToJpeg:
        case Command::None:
            break;
    }
    session.Stop();
    return code;
}

int RunCommandLine(int argc, char** argv, const Console& console) {
    const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    const CommandLine& line = parsed.commandLine;
    if (!parsed.error.empty()) {
        const std::string helpCommand =
            line.command == Command::None
                ? std::string(kCliProgramName)
                : std::string(kCliProgramName) + " " + CommandName(line.command);
        return console.Fail(kExitUsage, "%s\nTry '%s --help'.", parsed.error.c_str(),
                            helpCommand.c_str());
    }
    if (line.version) {
        console.Print("%s %s\n", kCliProgramName, kProgramVersion);
        return kExitSuccess;
    }
    if (line.help) {
        console.PrintText(UsageText(line.command));
        return kExitSuccess;
    }
    if (line.command == Command::ToJpeg) {
        return RunToJpeg(line.inputPath, line.outputPath, console);
    }
    return RunDeviceCommand(argc, argv, line, console);
}

}  // namespace

int RunCliProgram(int argc, char** argv) {
    platform::GuardStandardDescriptors();
    IgnoreFileSizeLimitSignal();
    const Console console;
    int code = RunCommandLine(argc, argv, console);
    // What was printed is the result of a script's call: losing it is a failure.
    const int finishError = platform::FinishStandardOutput();
    if (const int error = console.outError != 0 ? console.outError : finishError; error != 0) {
        console.Fail(kExitFile, "cannot write to standard output: %s", std::strerror(error));
        if (code == kExitSuccess) {
            code = kExitFile;
        }
    }
    return code;
}
