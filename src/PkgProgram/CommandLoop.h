#pragma once

#include "PkgProgram/Command.h"

// Counted or conditional loop.
// Its step: body at slot 1, exit at slot 0.
class CommandLoop : public Command {
public:
    explicit CommandLoop(const Command& record = Command());
    COMMAND_KIND_STEPS
};
