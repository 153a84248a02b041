#include "PkgKinematics/RobotKinematic.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "LogSingleton.h"
#include "TextFormat.h"

RobotKinematic::RobotKinematic() {
    for (int i = 0; i < maxModelJoints; ++i) {
        joints[i] = 0.0f;
        jointVelocities[i] = 0.0f;
        jointMin[i] = 0.0f;
        jointMax[i] = 0.0f;
        maxJointVelocities[i] = 0.0f;
    }
    for (int i = 0; i < maxConversionJoints; ++i) {
        jointOffsets[i] = 0.0f;
        jointDirections[i] = 1.0f;
    }
}

void RobotKinematic::Init(std::string, std::string, std::string) {}

void RobotKinematic::SetJoints(float*, bool) {}

void RobotKinematic::SetPosition(DataTypes::Matrix44) {}

float RobotKinematic::UserToInternal(int joint, float user) const {
    return jointOffsets[joint] + jointDirections[joint] * user;
}

float RobotKinematic::InternalToUser(int joint, float internal) const {
    return (internal - jointOffsets[joint]) * jointDirections[joint];
}

void RobotKinematic::GetJoints(float* out) const {
    for (int i = 0; i < jointCount; ++i) out[i] = InternalToUser(i, joints[i]);
}

void RobotKinematic::GetPosition(DataTypes::RobotState* state) const {
    state->posCartRobot = pose;
    state->posA = orientationA;
    state->posB = orientationB;
    state->posC = orientationC;
}

void RobotKinematic::ResetLastJoints(float* userJoints) {
    for (int i = 0; i < jointCount; ++i) {
        joints[i] = UserToInternal(i, userJoints[i]);
        jointVelocities[i] = 0.0f;
    }
}

void RobotKinematic::CheckJoints(float* internalJoints) {
    // A cycle time that was never set must not turn the speed into inf/NaN.
    const double period = cycleTime > 0.0 ? cycleTime : 1.0;
    for (int i = 0; i < jointCount; ++i) {
        jointVelocities[i] = float((double(internalJoints[i]) - double(joints[i])) / period * 1000.0);
    }
    for (int i = 0; i < jointCount; ++i) {
        // NaN or inf can never be inside the range; refuse it before it reaches a joint.
        if (!std::isfinite(internalJoints[i])) throw int(errorJointBelowMin);
        if (internalJoints[i] < jointMin[i] && jointVelocities[i] < 0.0f) throw int(errorJointBelowMin);
        if (internalJoints[i] > jointMax[i] && jointVelocities[i] > 0.0f) throw int(errorJointAboveMax);
    }
}

void RobotKinematic::KinAdaptorToInternalFormat(float* jointValues, float* z) const {
    *z += baseHeightOffset;
    for (int i = 0; i < jointCount; ++i) jointValues[i] = UserToInternal(i, jointValues[i]);
}

void RobotKinematic::ConvertLimitsToInternal(int count) {
    for (int i = 0; i < count; ++i) {
        float lo = UserToInternal(i, jointMin[i]);
        float hi = UserToInternal(i, jointMax[i]);
        if (hi < lo) std::swap(lo, hi);
        jointMin[i] = lo;
        jointMax[i] = hi;
    }
}

double RobotKinematic::NormalizeDeg(double angle) {
    double a = std::fmod(angle, 360.0);
    if (a > 180.0) a -= 360.0;
    if (a <= -180.0) a += 360.0;
    return a;
}

void RobotKinematic::ChooseNearestTurn(float* q, int count) const {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(q[i])) continue;
        const double base = NormalizeDeg(q[i]);
        double best = q[i];
        double bestDistance = -1.0;
        for (int turn = -2; turn <= 2; ++turn) {
            const double candidate = base + 360.0 * turn;
            const double distance = std::fabs(candidate - double(joints[i]));
            if (bestDistance < 0.0 || distance < bestDistance) {
                best = candidate;
                bestDistance = distance;
            }
        }
        q[i] = float(best);
    }
}

void RobotKinematic::LogJointLines(int count) const {
    for (int i = 0; i < count; ++i) {
        LogSingleton::instance()->add(
            Format("   Joint %d: Min %.1lf Max %.1lf MaxVel %.1lf JointOffset %.1lf JointDirection %.1lf", i,
                   double(jointMin[i]), double(jointMax[i]), double(maxJointVelocities[i]),
                   double(jointOffsets[i]), double(jointDirections[i])));
    }
}
