#include "PkgKinematics/RobotKinematicCartesian.h"

#include <cmath>
#include <cstdio>
#include <string>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/KinematicMath.h"
#include "TextFormat.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;

namespace {
const char* const owner = "RobotKinematicCartesian";

// Reads an optional "x y z" direction attribute; missing keeps the default.
void ReadDirection(tinyxml2::XMLElement* e, const char* name, Vector3* dir) {
    const char* text = e->Attribute(name);
    if (text == nullptr) return;
    float x = 0, y = 0, z = 0;
    if (std::sscanf(text, "%f %f %f", &x, &y, &z) != 3 || !std::isfinite(x) || !std::isfinite(y) ||
        !std::isfinite(z)) {
        // A half-read direction would move the axis somewhere else than wired.
        throw ConfigError(46, std::string(owner) + ": attribute " + name +
                                  " is not three numbers in robot ini file: \"" + text + "\"");
    }
    *dir = Vector3(x, y, z);
}
}  // namespace

RobotKinematicCartesian::RobotKinematicCartesian() {
    jointCount = 3;
    jointMin[0] = -5.0f;
    jointMax[0] = 500.0f;
    jointMin[1] = -5.0f;
    jointMax[1] = 500.0f;
    jointMin[2] = -5.0f;
    jointMax[2] = 300.0f;
    for (int i = 0; i < 3; ++i) maxJointVelocities[i] = 100.0f;
    BuildDirectionMatrix();
}

void RobotKinematicCartesian::clone(RobotKinematic*) {}

std::unique_ptr<RobotKinematic> RobotKinematicCartesian::Duplicate() const {
    return std::make_unique<RobotKinematicCartesian>(*this);
}

void RobotKinematicCartesian::BuildDirectionMatrix() {
    Matrix44 d(dirA1, dirA2, dirA3, Vector3());
    d(3, 3) = 1.0f;
    // Dependent directions cannot be inverted: the gantry could not be driven.
    const double det = double(Vector3::Dot(dirA1, Vector3::Cross(dirA2, dirA3)));
    if (std::fabs(det) < 1e-6) {
        throw ConfigError(46, std::string(owner) + ": axis directions dirA1, dirA2, dirA3 are not independent!");
    }
    try {
        inverseDirectionMatrix = Matrix44::inverse(d);
    } catch (const std::string&) {
        throw ConfigError(46, std::string(owner) + ": axis directions dirA1, dirA2, dirA3 are not independent!");
    }
    directionMatrix = d;
}

void RobotKinematicCartesian::ReadIniFile(const std::string& iniFile) {
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    tinyxml2::XMLElement* root = KinematicMath::OpenRobotFile(doc, iniFile, owner);
    tinyxml2::XMLElement* kin = KinematicMath::RequireChild(
        root, "Kinematic", "RobotKinematicCartesian: line Kinematic not found in robot ini file!");
    tinyxml2::XMLElement* minMax = KinematicMath::RequireChild(
        root, "SoftwareMinMax", "RobotKinematicCartesian: line SoftwareMinMax not found in robot ini file!");
    tinyxml2::XMLElement* vel = KinematicMath::RequireChild(
        root, "JointVelocities", "RobotKinematicCartesian: line JointVelocities not found in robot ini file!");

    KinematicMath::ReadFloat(kin, "lx", &lx, owner);
    KinematicMath::ReadFloat(kin, "ly", &ly, owner);
    KinematicMath::ReadFloat(kin, "lz", &lz, owner);
    KinematicMath::ReadFloat(kin, "xOffset", &originOffset.x, owner);
    KinematicMath::ReadFloat(kin, "yOffset", &originOffset.y, owner);
    KinematicMath::ReadFloat(kin, "zOffset", &originOffset.z, owner);
    ReadDirection(kin, "dirA1", &dirA1);
    ReadDirection(kin, "dirA2", &dirA2);
    ReadDirection(kin, "dirA3", &dirA3);

    static const char* const minNames[3] = {"A1Min", "A2Min", "A3Min"};
    static const char* const maxNames[3] = {"A1Max", "A2Max", "A3Max"};
    static const char* const velNames[3] = {"A1", "A2", "A3"};
    for (int i = 0; i < 3; ++i) {
        KinematicMath::ReadFloat(minMax, minNames[i], &jointMin[i], owner);
        KinematicMath::ReadFloat(minMax, maxNames[i], &jointMax[i], owner);
        KinematicMath::ReadFloat(vel, velNames[i], &maxJointVelocities[i], owner);
    }
}

void RobotKinematicCartesian::Init(std::string name, std::string type, std::string iniFile) {
    LogSingleton* log = BeginInit("RKCartesian", name, type);
    ReadIniFile(iniFile);
    BuildDirectionMatrix();
    const Vector3* dirs[3] = {&dirA1, &dirA2, &dirA3};
    const float lengths[3] = {lx, ly, lz};
    for (int i = 0; i < 3; ++i) {
        log->add(Format("   Linear Axis %d: Dir %.1lf, %.1lf, %.1lf  Length: %.1lf", i + 1, double(dirs[i]->x),
                        double(dirs[i]->y), double(dirs[i]->z), double(lengths[i])));
    }
    log->add(Format("   Offset: %.1lf, %.1lf, %.1lf", double(originOffset.x), double(originOffset.y),
                    double(originOffset.z)));
    LogJointLines(3);
    ConvertLimitsToInternal(3);
    log->add(" ");
}

void RobotKinematicCartesian::SetJoints(float* j, bool check) {
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(j[i])) throw int(errorJointBelowMin);
    if (check) CheckJoints(j);
    const Vector3 p(originOffset.x + j[0] * dirA1.x + j[1] * dirA2.x + j[2] * dirA3.x,
                    originOffset.y + j[0] * dirA1.y + j[1] * dirA2.y + j[2] * dirA3.y,
                    originOffset.z + j[0] * dirA1.z + j[1] * dirA2.z + j[2] * dirA3.z);
    pose.SetTranslation(p.x, p.y, p.z);
    for (int i = 0; i < 3; ++i) joints[i] = j[i];
}

void RobotKinematicCartesian::SetPosition(Matrix44 target) {
    const Vector3 d(target(0, 3) - originOffset.x, target(1, 3) - originOffset.y, target(2, 3) - originOffset.z);
    const Matrix44& inv = inverseDirectionMatrix;
    float j[3];
    for (int r = 0; r < 3; ++r) j[r] = inv(r, 0) * d.x + inv(r, 1) * d.y + inv(r, 2) * d.z;
    CheckJoints(j);  // also refuses a non-finite target
    pose.SetTranslation(target(0, 3), target(1, 3), target(2, 3));
    for (int i = 0; i < 3; ++i) joints[i] = j[i];
}
