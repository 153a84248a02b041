#pragma once

#include <memory>

#include "PkgKinematics/RobotKinematic.h"

// A kinematic for interpreter and planner tests: joints 1 to 3 are the x, y and
// z of the tool, joints 4 to 6 are carried along, the orientation never changes.
// Joints and poses map one to one, so expected set-points are easy to state.
class IdentityKinematic : public RobotKinematic {
public:
    IdentityKinematic();
    void clone(RobotKinematic* other) override;
    void SetJoints(float* values, bool check) override;
    void SetPosition(DataTypes::Matrix44 target) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;
};
