#pragma once

#include "PkgProgram/Command.h"

// Conditional branch.
// Its step: on entry: then-branch (slot 1) or else-branch (slot 2); when a
// branch comes back: slot 0.
class CommandIf : public Command {
public:
    explicit CommandIf(const Command& record = Command());
    COMMAND_KIND_STEPS
};
