#include "PkgKinematics/RobotKinematicRover.h"

#include <cmath>

#include "LogSingleton.h"

RobotKinematicRover::RobotKinematicRover() {
    jointCount = 4;
    for (int i = 0; i < 4; ++i) joints[i] = 0.0f;
}

void RobotKinematicRover::clone(RobotKinematic*) {}

std::unique_ptr<RobotKinematic> RobotKinematicRover::Duplicate() const {
    return std::make_unique<RobotKinematicRover>(*this);
}

void RobotKinematicRover::Init(std::string name, std::string type, std::string) {
    robotName = name;
    robotType = type;
    jointCount = 4;
    for (int i = 0; i < 4; ++i) {
        maxJointVelocities[i] = 100.0f;
        jointMin[i] = 0.0f;
        jointMax[i] = 0.0f;
    }
    LogSingleton::instance()->add("RKRover: Init");
}

void RobotKinematicRover::SetJoints(float* q, bool) {
    // Any finite value is a valid wheel angle; NaN would reach the wheels.
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(q[i])) throw int(errorJointBelowMin);
    for (int i = 0; i < 4; ++i) joints[i] = q[i];
}

void RobotKinematicRover::SetPosition(float* p) {
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[3])) throw int(errorOutOfReach);
    const float dx = p[0] - pose(0, 3);
    const float dy = p[1] - pose(1, 3);
    const float dA = p[3] - orientationA;
    pose(0, 3) = p[0];
    pose(1, 3) = p[1];
    pose(2, 3) = toolHeight;
    orientationA = p[3];
    const float a = dx / wheelCircumference * -360.0f;
    const float b = dy / wheelCircumference * 360.0f;
    const float r = float(double(dA) * 1350.63 / 360.0 / 314.7281799316406 * -514.8);
    joints[0] += a - b + r;
    joints[1] += a + b - r;
    joints[2] += a - b - r;
    joints[3] += a + b + r;
}
