#pragma once

#include "PkgProgram/Command.h"

// Sets one digital output.
class CommandDIO : public Command {
public:
    explicit CommandDIO(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
