#pragma once

#include "PkgProgram/Command.h"

// Counted or conditional loop.
class CommandLoop : public Command {
public:
    explicit CommandLoop(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    // Body at slot 1, exit at slot 0.
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
