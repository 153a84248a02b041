#include "PkgKinematics/RobotKinematicTalon.h"

#include <cmath>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/KinematicMath.h"
#include "TextFormat.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;
using KM = KinematicMath;

namespace {
const double k = KinematicMath::radToDeg;
}

void RobotKinematicTalon::ReadIniFile(const std::string& iniFile) {
    const std::string owner = ClassName();
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    const ArmSections s = OpenArmFile(doc, iniFile, owner);
    tinyxml2::XMLElement* kin = s.kinematic;
    KM::ReadFloat(kin, "lz0", &lz0, owner);
    KM::ReadFloat(kin, "lz1", &lz1, owner);
    KM::ReadFloat(kin, "lz2", &lz2, owner);
    KM::ReadFloat(kin, "lz3", &lz3, owner);
    KM::ReadFloat(kin, "lz4", &lz4, owner);
    if (jointCount == 5) {
        KM::ReadFloat(kin, "lz5", &lz5, owner);
        KM::ReadFloat(kin, "ly0", &ly0, owner);
    }
    ReadArmJoints(s, jointCount, owner);
    KM::ReadFloat(s.singularities, "Center", &center, owner);
    KM::ReadFloat(s.singularities, "Ellbow", &ellbow, owner);

    // The closed-form solution divides by both arm lengths; a flipped joint
    // sense other than +-1 would scale joint values.
    if (!(lz2 > 0.0f) || !(lz3 > 0.0f))
        throw ConfigError(46, owner + ": link lengths lz2 and lz3 must be positive!");
    CheckJointDirections(jointCount, owner);
    if (center < 0.0f || ellbow < 0.0f)
        throw ConfigError(46, owner + ": SINGULARITIES Center and Ellbow must not be negative!");
}

void RobotKinematicTalon::Init(std::string name, std::string type, std::string iniFile) {
    LogSingleton* log = BeginInit("RK5Axis", name, type);
    SetInitDefaults();
    ReadIniFile(iniFile);
    LogJointLines(jointCount);
    ConvertLimitsToInternal(jointCount);
    log->add(JointLengthLine());
    log->add(" ");
    errorReported = false;
}

void RobotKinematicTalon::ForwardKinJ1toJ3(float* q, Matrix44* out) {
    Matrix44 a = KM::Product(KM::Tr(0.0f, 0.0f, lz0), KM::Rz(q[0]));
    a = KM::Product(a, KM::Tr(0.0f, 0.0f, lz1));
    a = KM::Product(a, KM::Ry(q[1]));
    a = KM::Product(a, KM::Tr(0.0f, 0.0f, lz2));
    a = KM::Product(a, KM::Ry(q[2]));
    *out = KM::Product(a, KM::Tr(0.0f, 0.0f, lz3));
}

void RobotKinematicTalon::ForwardKin(float* q, Matrix44* out) {
    KM::WristArmForward(*this, q, out);
}

void RobotKinematicTalon::ComputeA1toA3(Matrix44 t, float* q) {
    const double upper = lz2, fore = lz3;
    const KM::ArmAngles a =
        SolveArmOrFail(t, {WristLength(), double(lz0) + double(lz1), 0.0, upper, fore, upper + fore - ellbow, center});
    const double alpha = a.alpha, beta = a.beta, gamma = a.gamma;

    double q1 = a.phi1 * k;
    double q2, q3;
    if (elbowFlag) {
        q2 = 90.0 - (alpha + beta) * k;
        q3 = 180.0 - gamma * k;
    } else {
        q2 = 90.0 + (beta - alpha) * k;
        q3 = gamma * k - 180.0;
    }
    if (UsesFrontFlag() && !frontFlag) {
        q1 += 180.0;
        if (q1 > 180.0) q1 -= 360.0;
        q2 = -q2;
        q3 = -q3;
    }
    q[0] = float(q1);
    q[1] = float(q2);
    q[2] = float(q3);
}

void RobotKinematicTalon::LimitOrientation(Matrix44* t) {
    const double theta = std::atan2(double((*t)(1, 3)), double((*t)(0, 3)));
    Vector3 z = KM::Column(*t, 2);
    z.RotateZRad(float(-theta));
    z.y = 0.0f;
    const float zLen = std::sqrt(z.x * z.x + z.z * z.z);
    if (!(zLen > 1e-6f)) Fail(errorOutOfReach, "InvKin: OutofReach");
    z.x /= zLen;
    z.z /= zLen;
    z.RotateZRad(float(theta));

    // x and y are made unit length again, so the stored pose stays a rotation.
    Vector3 x = Vector3::Cross(KM::Column(*t, 1), z);
    float xLen = x.Length();
    if (!(xLen > 1e-6f)) {
        // The old y axis lies along the new tool axis: keep the old x direction instead.
        x = Vector3::Cross(Vector3::Cross(z, KM::Column(*t, 0)), z);
        xLen = x.Length();
        if (!(xLen > 1e-6f)) Fail(errorOutOfReach, "InvKin: OutofReach");
    }
    x = Vector3(x.x / xLen, x.y / xLen, x.z / xLen);
    const Vector3 y = Vector3::Cross(z, x);
    KM::SetColumn(*t, 0, x);
    KM::SetColumn(*t, 1, y);
    KM::SetColumn(*t, 2, z);
}

void RobotKinematicTalon::SetJoints(float* u, bool check) {
    float q[maxModelJoints];
    TakeUserJoints(u, check, q);
    Matrix44 p;
    ForwardKin(q, &p);
    elbowFlag = NormalizeDeg(q[2]) >= 0.0;  // the folded angle decides
    frontFlag = KM::WristInFront(wristPoint, q[0]);
    if (!frontFlag) elbowFlag = !elbowFlag;
    pose = p;
}

void RobotKinematicTalon::SetPosition(Matrix44 t) {
    if (!KM::IsFinite(t)) Fail(errorOutOfReach, "InvKin: OutofReach");
    Matrix44 limited = t;
    LimitOrientation(&limited);
    float q[maxModelJoints];
    InverseKin(limited, q);
    TakeSolution(q, limited);
}
