#pragma once

#include "PkgProgram/Command.h"

// Stores a number or the robot's current position in a program variable.
class CommandStoreData : public Command {
public:
    explicit CommandStoreData(const Command& record = Command());
    COMMAND_KIND_STEPS
};
