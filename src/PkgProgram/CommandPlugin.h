#pragma once

#include "PkgProgram/Command.h"

// Asks a plug-in (the smart camera) for a target and stores it in program variables.
class CommandPlugin : public Command {
public:
    explicit CommandPlugin(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
