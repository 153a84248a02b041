#include "PkgKinematics/RobotKinematic.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/KinematicMath.h"
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

LogSingleton* RobotKinematic::BeginInit(const char* label, const std::string& name, const std::string& type) {
    robotName = name;
    robotType = type;
    LogSingleton* log = LogSingleton::instance();
    log->add(" ");
    log->add(Format("%s %s / %s  - Kinematic Data: ", label, name.c_str(), type.c_str()));
    return log;
}

void RobotKinematic::LogJointLines(int count) const {
    for (int i = 0; i < count; ++i) {
        LogSingleton::instance()->add(
            Format("   Joint %d: Min %.1lf Max %.1lf MaxVel %.1lf JointOffset %.1lf JointDirection %.1lf", i,
                   double(jointMin[i]), double(jointMax[i]), double(maxJointVelocities[i]),
                   double(jointOffsets[i]), double(jointDirections[i])));
    }
}

void RobotKinematic::SetArmDefaults() {
    pose = DataTypes::Matrix44();
    pose.SetTranslation(400.0f, 50.0f, 300.0f);
    jointMin[0] = -120.0f;
    jointMax[0] = 120.0f;
    jointMin[1] = -180.0f;
    jointMax[1] = 100.0f;
    for (int i = 2; i < maxModelJoints; ++i) {
        jointMin[i] = -180.0f;
        jointMax[i] = 180.0f;
    }
    for (int i = 0; i < maxModelJoints; ++i) maxJointVelocities[i] = 20.0f;
}

void RobotKinematic::Fail(int code, const std::string& message) {
    if (!errorReported) {
        LogSingleton::instance()->add(message);
        errorReported = true;
    }
    throw code;
}

void RobotKinematic::TakeUserJoints(const float* userJoints, bool check, float* q) {
    for (int i = 0; i < jointCount; ++i) {
        if (!std::isfinite(userJoints[i])) throw int(errorJointBelowMin);
        q[i] = UserToInternal(i, userJoints[i]);
    }
    if (check) CheckJoints(q);
    for (int i = 0; i < jointCount; ++i) joints[i] = q[i];
}

void RobotKinematic::TakeSolution(float* q, const DataTypes::Matrix44& target) {
    for (int i = 0; i < jointCount; ++i)
        if (!std::isfinite(q[i])) Fail(errorOutOfReach, "InvKin: OutofReach");
    ChooseNearestTurn(q, jointCount);
    CheckJoints(q);
    pose = target;
    for (int i = 0; i < jointCount; ++i) joints[i] = q[i];
    errorReported = false;
}

KinematicMath::ArmAngles RobotKinematic::SolveArmOrFail(const DataTypes::Matrix44& target,
                                                        const KinematicMath::ArmGeometry& g) {
    KinematicMath::ArmAngles a;
    const KinematicMath::ArmResult result = KinematicMath::SolveArm(target, g, &a);
    if (result == KinematicMath::ArmResult::NearCenterAxis)
        Fail(errorNearCenterAxis,
             Format("Kinematic Error: too close to center axis! %.1lf %1.lf %1.lf", a.wx, a.wy, g.center));
    if (result != KinematicMath::ArmResult::Ok) Fail(errorOutOfReach, "InvKin: OutofReach");
    return a;
}

RobotKinematic::ArmSections RobotKinematic::OpenArmFile(tinyxml2::XMLDocument& doc, const std::string& path,
                                                        const std::string& owner) {
    using KM = KinematicMath;
    tinyxml2::XMLElement* root = KM::OpenRobotFile(doc, path, owner);
    ArmSections s;
    s.kinematic = KM::RequireChild(root, "Kinematic", "RobotMaster: line Kinematic not found in robot ini file!");
    s.minMax =
        KM::RequireChild(root, "SoftwareMinMax", "RobotMaster: line SoftwareMinMax not found in robot ini file!");
    s.velocities =
        KM::RequireChild(root, "JointVelocities", "RobotMaster: line JointVelocities not found in robot ini file!");
    s.manufacturer = KM::RequireChild(
        root, "ManufacturerJointConfig", "RobotMaster: line ManufacturerJointConfig not found in robot ini file!");
    s.singularities =
        KM::RequireChild(root, "SINGULARITIES", "RobotMaster: line \"SINGULARITIES\" not found in robot ini file!");
    return s;
}

void RobotKinematic::ReadArmJoints(const ArmSections& s, int count, const std::string& owner) {
    using KM = KinematicMath;
    for (int i = 0; i < count; ++i) {
        const std::string a = "A" + std::to_string(i + 1);
        KM::ReadFloat(s.minMax, (a + "Min").c_str(), &jointMin[i], owner);
        KM::ReadFloat(s.minMax, (a + "Max").c_str(), &jointMax[i], owner);
        KM::ReadFloat(s.velocities, a.c_str(), &maxJointVelocities[i], owner);
        KM::ReadFloat(s.manufacturer, (a + "Offset").c_str(), &jointOffsets[i], owner);
        KM::ReadFloat(s.manufacturer, (a + "Dir").c_str(), &jointDirections[i], owner);
    }
    KM::ReadFloat(s.manufacturer, "zOffset", &baseHeightOffset, owner);
}

void RobotKinematic::CheckJointDirections(int count, const std::string& owner) const {
    for (int i = 0; i < count; ++i) {
        if (jointDirections[i] != 1.0f && jointDirections[i] != -1.0f)
            throw ConfigError(46, owner + ": A" + std::to_string(i + 1) +
                                      "Dir must be 1 or -1 in line ManufacturerJointConfig!");
    }
}
