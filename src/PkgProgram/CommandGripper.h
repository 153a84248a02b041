#pragma once

#include "PkgProgram/Command.h"

// Sets the gripper set-points for the cycle in which it runs.
class CommandGripper : public Command {
public:
    explicit CommandGripper(const Command& record = Command());
    // A gripper command opening to the given percentage.
    explicit CommandGripper(float position);
    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    void WriteXML(std::ofstream* out, int nr) override;
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
};
