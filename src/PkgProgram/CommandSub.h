#pragma once

#include "PkgProgram/Command.h"

// Calls a sub-program.
class CommandSub : public Command {
public:
    explicit CommandSub(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    // Returns the sub-program call code -10 - subProgram.
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
