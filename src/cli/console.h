#pragma once

#include <cstdio>

// The command-line program's name, its exit codes, and where its words go.

inline constexpr const char* kCliProgramName = "digital-microscope-cli";

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;     // the command line, or a value the device refuses
inline constexpr int kExitNoDevice = 2;  // no supported device, or it does not deliver
inline constexpr int kExitFile = 3;      // a file could not be read or written

// A command ended by SIGINT, SIGTERM or SIGHUP exits the way shells report such signals.
constexpr int ExitCodeForSignal(int signalNumber) {
    return 128 + signalNumber;
}

// Results go to `out`, one per line, each flushed at once so that a script reading a long
// series sees every file as soon as it is written; errors go to `err`, prefixed with the
// program's name. The program uses standard output and standard error; tests use streams of
// their own. One thread.
struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // The errno of the first result that did not reach `out`; 0 while all did.
    mutable int outError = 0;

    void Print(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Writes `text` as it is.
    void PrintText(const char* text) const;
    // Writes "<program>: stopped by a signal (<name>)" and returns ExitCodeForSignal.
    int FailForSignal(int signalNumber) const;
    // Writes "<program>: <text>" and returns `exitCode`.
    int Fail(int exitCode, const char* format, ...) const __attribute__((format(printf, 3, 4)));
};
