#pragma once

#include "PkgProgram/Command.h"

// Waits a time or until a condition holds.
class CommandWait : public Command {
public:
    explicit CommandWait(const Command& record = Command());
    // A timed wait of the given duration.
    explicit CommandWait(int ms);
    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
};
