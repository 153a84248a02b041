#pragma once

#include <memory>
#include <string>

#include "PkgKinematics/RobotKinematicTalon.h"

// Four-joint arm: base rotation, shoulder, elbow and wrist pitch. Its inverse
// always solves in front of the base (the front flag is not used).
class RobotKinematicTalon4 : public RobotKinematicTalon {
public:
    RobotKinematicTalon4();

    void clone(RobotKinematic* other) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;
    void ForwardKinJ4toJ6(float* q, DataTypes::Matrix44* out) override;
    void InverseKin(DataTypes::Matrix44 target, float* q) override;

protected:
    float WristLength() const override { return lz4; }
    bool UsesFrontFlag() const override { return false; }
    std::string ClassName() const override { return "RobotKinematicTalon4"; }
    void SetInitDefaults() override;
    std::string JointLengthLine() const override;
};
