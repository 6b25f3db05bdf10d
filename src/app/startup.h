#pragma once

#include <string>
#include <string_view>

#include "app/program_paths.h"
#include "platform/system_language.h"

// What start-up learns from the system; tests fill it with their own folders.
struct StartupEnvironment {
    std::string executablePath;   // the running program's full path
    std::string documentsFolder;  // the user's documents folder (created when missing)
    platform::LangId languageId = 0;
    std::string dataFolder;       // an installed program's data folder
    std::string installedManual;  // an installed program's manual (index.html)
    std::string homepage;         // the project's web address; empty when there is none
    // The simulated device to use instead of the system's devices: -1 none, else the row of
    // the device kind (0 the microscope, 1 the camera).
    int simulatedKind = -1;
    // The simulated device's frames carry their index as a code (DIGITAL_MICROSCOPE_FRAME_CODE).
    bool simulatedFrameCode = false;
    // Where the simulated device keeps its controls while it stays plugged in
    // (SimulatedStateFile); empty keeps nothing, as tests leave it.
    std::string simulatedStateFile;
    // The file the calibrations are kept in; empty: the user's own (calibration.ini in the
    // program's configuration folder). Tests give one of their own.
    std::string calibrationFile;
    // The GStreamer element the window's sounds are played on; tests give "fakesink".
    std::string audioSink = "autoaudiosink";
};

// The running program's environment: /proc/self/exe, the XDG documents folder, the
// language of LC_ALL / LC_MESSAGES / LANG, the installed data folder and whether
// DIGITAL_MICROSCOPE_FRAME_CODE asks for the frame index code. Needs a QCoreApplication;
// UI thread.
StartupEnvironment SystemStartupEnvironment();

// Fixes the process-wide paths in start-up order: the program folder, then the language
// file and the manual, then the storage tree (root, video, picture folders, created when
// missing). Returns what it set; the first storage folder that cannot be used goes to
// `storageFailure` when given.
// The manual: "manual/index.html" beside the executable (a build tree); when that is
// missing but `installedManual` is readable, that one. A manual missing from both still
// gives the path beside the executable.
std::string ChooseHelpFile(std::string_view programFolder, std::string_view installedManual);

ProgramPaths FixProgramPaths(const StartupEnvironment& environment,
                             FolderFailure* storageFailure = nullptr);
