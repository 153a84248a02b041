#pragma once

#include "PkgProgram/Command.h"
#include "PkgProgram/CommandJointStep.h"

// Joint motion to absolute joint targets (a1..a6, e1..e3).
class CommandJoint : public Command {
public:
    explicit CommandJoint(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    void WriteXML(std::ofstream* out, int nr) override;
    // Moves all joints one step towards the target so that they arrive together.
    int Interpolate(int dtMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;

private:
    CommandJointStep stepper;
};
