#pragma once

#include "PkgProgram/Command.h"

// Asks a plug-in (the smart camera) for a target and stores it in program variables.
class CommandPlugin : public Command {
public:
    explicit CommandPlugin(const Command& record = Command());
    COMMAND_KIND_STEPS
};
