#pragma once

#include "PkgProgram/Command.h"
#include "PkgProgram/CommandJointStep.h"

// Motion by a delta from where the robot stands when the command starts.
class CommandRelative : public Command {
public:
    CommandRelative();
    explicit CommandRelative(const Command& record);

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    // Dispatches on relativeMode: 0 joint deltas, 1 base-frame and 2 tool-frame translation.
    int Interpolate(int dtMs, float overridePercent, DataTypes::RobotState* state) override;
    int InterpolateJoint(int dtMs, float overridePercent, DataTypes::RobotState* state);
    int InterpolateLinear(int dtMs, float overridePercent, DataTypes::RobotState* state);

private:
    CommandJointStep stepper;
};
