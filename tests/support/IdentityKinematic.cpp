#include "support/IdentityKinematic.h"

IdentityKinematic::IdentityKinematic() { jointCount = 6; }

void IdentityKinematic::clone(RobotKinematic* other) {
    if (other != nullptr) *other = *this;
}

void IdentityKinematic::SetJoints(float* values, bool) {
    for (int i = 0; i < jointCount; ++i) joints[i] = values[i];
    pose(0, 3) = values[0];
    pose(1, 3) = values[1];
    pose(2, 3) = values[2];
}

void IdentityKinematic::SetPosition(DataTypes::Matrix44 target) {
    joints[0] = target(0, 3);
    joints[1] = target(1, 3);
    joints[2] = target(2, 3);
    pose(0, 3) = target(0, 3);
    pose(1, 3) = target(1, 3);
    pose(2, 3) = target(2, 3);
}

std::unique_ptr<RobotKinematic> IdentityKinematic::Duplicate() const {
    return std::make_unique<IdentityKinematic>(*this);
}
