#include "support/FakeKinematic.h"

FakeKinematic::FakeKinematic() {
    jointCount = 6;
    for (int i = 0; i < maxModelJoints; ++i) {
        joints[i] = 0.0f;
        jointVelocities[i] = 0.0f;
        jointMin[i] = -1000.0f;
        jointMax[i] = 1000.0f;
        maxJointVelocities[i] = 30.0f;
    }
}

void FakeKinematic::clone(RobotKinematic*) {}

void FakeKinematic::SetJoints(float* j, bool check) {
    if (check) CheckJoints(j);
    for (int i = 0; i < jointCount; ++i) joints[i] = j[i];
    pose.ABCToMatrix(j[3], j[4], j[5]);
    pose.SetTranslation(j[0], j[1], j[2]);
    orientationA = j[3];
    orientationB = j[4];
    orientationC = j[5];
}

void FakeKinematic::SetPosition(DataTypes::Matrix44 target) {
    ++setPositionCalls;
    if (throwOnSetPosition != 0) throw throwOnSetPosition;
    float j[6];
    j[0] = target(0, 3);
    j[1] = target(1, 3);
    j[2] = target(2, 3);
    target.MatrixToABC(&j[3], &j[4], &j[5]);
    CheckJoints(j);
    for (int i = 0; i < 6; ++i) joints[i] = j[i];
    pose = target;
    orientationA = j[3];
    orientationB = j[4];
    orientationC = j[5];
}

std::unique_ptr<RobotKinematic> FakeKinematic::Duplicate() const { return std::make_unique<FakeKinematic>(*this); }
