#pragma once

// digital-microscope-cli: reads the command line, runs the command and returns the exit
// code (see cli/console.h). Makes its own QCoreApplication when a command needs a device;
// never needs a display. Main thread.
int RunCliProgram(int argc, char** argv);
