#pragma once

#include "PkgProgram/Command.h"

// Sets one digital output.
class CommandDIO : public Command {
public:
    explicit CommandDIO(const Command& record = Command());
    COMMAND_KIND_STEPS
};
