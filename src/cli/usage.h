#pragma once

#include "cli/command_line.h"

// The help of the program (Command::None) or of one command.
const char* UsageText(Command command);
