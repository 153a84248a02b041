#pragma once

#include "PkgProgram/Command.h"

// Calls a sub-program.
// Its step: returns the sub-program call code -10 - subProgram.
class CommandSub : public Command {
public:
    explicit CommandSub(const Command& record = Command());
    COMMAND_KIND_STEPS
};
