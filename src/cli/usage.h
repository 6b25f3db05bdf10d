#pragma once

#include <cstdio>

#include "cli/command_line.h"

// The help of the program (Command::None) or of one command.
void PrintUsage(Command command, std::FILE* out);
