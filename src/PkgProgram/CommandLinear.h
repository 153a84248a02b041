#pragma once

#include "PkgProgram/Command.h"

// Straight-line Cartesian motion to a pose given numerically or by a position variable.
class CommandLinear : public Command {
public:
    CommandLinear();
    explicit CommandLinear(const Command& record);

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    void WriteXML(std::ofstream* out, int nr) override;
    // Moves the pose one step along the straight line and turns it about one axis, so that
    // translation and rotation start and end together.
    int Interpolate(int dtMs, float overridePercent, DataTypes::RobotState* state) override;

private:
    void ComputeStepSizes(int dtMs, float overridePercent, const DataTypes::RobotState& state);

    DataTypes::Vector3 rotationAxis;
    float remainingAngle = 0.0f;
    float translationStep = 0.0f;
    float rotationStep = 0.0f;
};
