#pragma once

#include "PkgProgram/Command.h"

// A no-op step that logs and goes on.
class CommandSystem : public Command {
public:
    explicit CommandSystem(const Command& record = Command());
    COMMAND_KIND_STEPS
};
