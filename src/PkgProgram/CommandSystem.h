#pragma once

#include "PkgProgram/Command.h"

// A no-op step that logs and goes on.
class CommandSystem : public Command {
public:
    explicit CommandSystem(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
