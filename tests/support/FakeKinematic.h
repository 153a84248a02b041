#pragma once

#include <memory>

#include "PkgKinematics/RobotKinematic.h"

// A six-joint kinematic whose model is trivial: the pose's translation is
// joints 0 to 2 (mm), its orientation A, B, C joints 3 to 5 (degrees), and
// SetPosition is the exact inverse. Limits and speeds are set by the test.
class FakeKinematic : public RobotKinematic {
public:
    FakeKinematic();
    void clone(RobotKinematic* other) override;
    void SetJoints(float* joints, bool check) override;
    void SetPosition(DataTypes::Matrix44 pose) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;

    // SetPosition throws this code when not 0.
    int throwOnSetPosition = 0;
    int setPositionCalls = 0;
};
