#pragma once

#include "PkgProgram/Command.h"

// Conditional branch.
class CommandIf : public Command {
public:
    explicit CommandIf(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    // On entry: then-branch (slot 1) or else-branch (slot 2); when a branch comes back: slot 0.
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
