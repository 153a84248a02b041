#pragma once

#include <memory>
#include <string>

#include "PkgKinematics/RobotKinematicTalon.h"

// Five-joint arm: base rotation, shoulder, elbow, wrist pitch and tool roll.
class RobotKinematicTalon5 : public RobotKinematicTalon {
public:
    RobotKinematicTalon5();

    // Copies every field of another five-axis kinematic (the robot object
    // fills its second instance this way).
    void clone(RobotKinematic* other) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;
    void ForwardKinJ4toJ6(float* q, DataTypes::Matrix44* out) override;
    void InverseKin(DataTypes::Matrix44 target, float* q) override;
    // Kept for interface parity with the six-axis arm; InverseKin does the work.
    void ComputeA4toA6(DataTypes::Matrix44 target, DataTypes::Matrix44 armFrame, float* q);

protected:
    float WristLength() const override { return lz4 + lz5; }
    bool UsesFrontFlag() const override { return true; }
    std::string ClassName() const override { return "RobotKinematicTalon5"; }
    void SetInitDefaults() override;
    std::string JointLengthLine() const override;
};
