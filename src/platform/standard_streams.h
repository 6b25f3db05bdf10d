#pragma once

// Standard input, output and error of a program started from a script, which may have
// closed them or pointed them at a full disk.
namespace platform {

// Opens /dev/null, read-only, on whichever of descriptors 0, 1 and 2 are closed, so that no
// file the program opens later takes one of their numbers (and receives what is printed).
// Printing to a stream that was closed still fails, as it would have, and
// FinishStandardOutput reports it. Call first thing in main, before any other thread starts.
void GuardStandardDescriptors();

// Flushes and closes standard output. Returns 0 when everything printed reached it, else
// the errno of the failure. Nothing may be printed to standard output afterwards. Main
// thread, at exit.
int FinishStandardOutput();

}  // namespace platform
