#include "PkgKinematics/RobotKinematicSixAxis.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include <tinyxml2.h>

#include "ConfigError.h"
#include "LogSingleton.h"
#include "PkgKinematics/KinematicMath.h"
#include "TextFormat.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;
using KM = KinematicMath;

namespace {
const char* const owner = "RobotKinematicSixAxis";
const double k = KinematicMath::radToDeg;
}  // namespace

RobotKinematicSixAxis::RobotKinematicSixAxis() {
    jointCount = 6;
    const float initial[6] = {0.0f, 30.0f, 40.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 6; ++i) joints[i] = initial[i];
    jointOffsets[2] = 90.0f;
    baseHeightOffset = 0.0f;
}

void RobotKinematicSixAxis::clone(RobotKinematic*) {
    std::cout << "************************************* Talon5 COPY ************************ " << std::endl;
}

std::unique_ptr<RobotKinematic> RobotKinematicSixAxis::Duplicate() const {
    return std::make_unique<RobotKinematicSixAxis>(*this);
}

void RobotKinematicSixAxis::ReadIniFile(const std::string& iniFile) {
    tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    const ArmSections s = OpenArmFile(doc, iniFile, owner);

    struct Named {
        const char* name;
        float* value;
    };
    const Named dims[] = {{"lz0", &lz0}, {"lx1", &lx1}, {"lz1", &lz1}, {"lx2", &lx2},
                          {"lx3", &lx3}, {"lz3", &lz3}, {"lx4", &lx4}, {"lx6", &lx6}};
    for (const Named& d : dims) KM::ReadFloat(s.kinematic, d.name, d.value, owner);
    ReadArmJoints(s, 6, owner);
    KM::ReadFloat(s.singularities, "Wrist", &wrist, owner);
    KM::ReadFloat(s.singularities, "Center", &center, owner);
    KM::ReadFloat(s.singularities, "Ellbow", &ellbow, owner);
    ValidateGeometry();
}

// Values the closed-form solution divides by or that flip joint senses must be
// sane, otherwise the arm would be driven by NaN or mirrored joints.
void RobotKinematicSixAxis::ValidateGeometry() const {
    if (!(lx2 > 0.0f) || !(lx3 + lx4 > 0.0f) || lx6 < 0.0f)
        throw ConfigError(46, std::string(owner) + ": link lengths lx2 and lx3 + lx4 must be positive, lx6 not negative!");
    CheckJointDirections(6, owner);
    if (center < 0.0f || ellbow < 0.0f || wrist < 0.0f || !(wrist < 90.0f))
        throw ConfigError(46, std::string(owner) +
                                  ": SINGULARITIES Center and Ellbow must not be negative, Wrist within 0 to 90!");
}

void RobotKinematicSixAxis::Init(std::string name, std::string type, std::string iniFile) {
    LogSingleton* log = BeginInit("RKSixAxis", name, type);

    SetArmDefaults();
    ReadIniFile(iniFile);
    LogJointLines(6);
    ConvertLimitsToInternal(6);
    log->add(Format("   Joint length: lz0 %.1lf, lx1 %.1lf, lz1 %.1lf, lx2 %.1lf, lx3 %.1lf, lz3 %.1lf, lx4 %.1lf, lx6 %.1lf,",
                    double(lz0), double(lx1), double(lz1), double(lx2), double(lx3), double(lz3), double(lx4),
                    double(lx6)));
    log->add(" ");
    forearmAngleOffset = float(std::atan(double(lz3) / double(lx3 + lx4)));
    errorReported = false;
}

void RobotKinematicSixAxis::ForwardKinJ1toJ3(float* q, Matrix44* out) {
    Matrix44 a = KM::Product(KM::Rz(q[0]), KM::Tr(lx1, 0.0f, lz0 + lz1));
    a = KM::Product(a, KM::Ry(q[1]));
    a = KM::Product(a, KM::Tr(0.0f, 0.0f, lx2));
    a = KM::Product(a, KM::Ry(q[2]));
    a = KM::Product(a, KM::Tr(-lz3, 0.0f, lx3 + lx4));
    *out = a;
}

void RobotKinematicSixAxis::ForwardKinJ4toJ6(float* q, Matrix44* out) {
    Matrix44 w = KM::Product(KM::Rz(q[3]), KM::Ry(q[4]));
    w = KM::Product(w, KM::Rz(q[5]));
    *out = KM::Product(w, KM::Tr(0.0f, 0.0f, lx6));
}

void RobotKinematicSixAxis::ForwardKin(float* q, Matrix44* out) {
    KM::WristArmForward(*this, q, out);
}

void RobotKinematicSixAxis::ComputeA1toA3(Matrix44 t, float* q) {
    const double upper = lx2;
    const double fore = double(lx3) + double(lx4);
    // The triangle's forearm runs from the elbow to the wrist point, past the offset lz3.
    const KM::ArmAngles a = SolveArmOrFail(
        t, {lx6, double(lz0) + double(lz1), frontFlag ? double(lx1) : -double(lx1), upper,
            std::sqrt(double(lz3) * lz3 + fore * fore), upper + fore - ellbow, center});
    const double alpha = a.alpha, beta = a.beta, gamma = a.gamma;
    const double phi = forearmAngleOffset;

    double q1 = a.phi1 * k;
    double q2, q3;
    if (a.dr > 0.0) {
        q2 = elbowFlag ? 90.0 - (alpha + beta) * k : 90.0 + (beta - alpha) * k;
    } else {
        // Wrist centre behind the shoulder: the angle of d from the vertical is alpha - 90.
        q2 = elbowFlag ? (alpha - beta) * k - 90.0 : (alpha + beta) * k - 90.0;
    }
    q3 = elbowFlag ? 180.0 - (gamma - phi) * k : (gamma + phi) * k - 180.0;
    if (!frontFlag) {
        // Mirror the planar solution through the base axis. The forearm offset
        // does not mirror with it, hence the 2*phi on joint 3.
        q1 += 180.0;
        if (q1 > 180.0) q1 -= 360.0;
        q2 = -q2;
        q3 = -q3 + 2.0 * phi * k;
    }
    q[0] = float(q1);
    q[1] = float(q2);
    q[2] = float(q3);
}

void RobotKinematicSixAxis::ComputeA4toA6(Matrix44 t, Matrix44 armFrame, float* q) {
    const Matrix44 r = KM::Product(KM::RigidInverse(armFrame), t);
    const double s = std::sqrt(double(r(0, 2)) * r(0, 2) + double(r(1, 2)) * r(1, 2));
    if (!(s >= std::tan(double(wrist) * KM::pi / 180.0))) {
        if (!errorReported) {
            LogSingleton::instance()->add("InvKin: HandSingularity:", float(s));
            errorReported = true;
        }
        throw int(errorWristSingularity);
    }
    const double a4 = std::atan2(double(r(1, 2)), -double(r(0, 2)));
    const Matrix44 r1 = KM::Product(KM::Rz(a4 * k), r);
    const double a5 = std::atan2(-double(r1(0, 2)), double(r1(2, 2)));
    const Matrix44 r2 = KM::Product(KM::Ry(a5 * k), r1);
    const double a6 = std::atan2(double(r2(1, 0)), double(r2(0, 0)));
    double q4 = -a4, q5 = -a5, q6 = a6;
    if ((wristFlag && q5 > 0.0) || (!wristFlag && q5 < 0.0)) {
        q4 = q4 > 0.0 ? q4 - KM::pi : q4 + KM::pi;
        q6 = a6 > 0.0 ? a6 - KM::pi : a6 + KM::pi;
        q5 = a5;
    }
    q[3] = float(q4 * k);
    q[4] = float(q5 * k);
    q[5] = float(q6 * k);
}

void RobotKinematicSixAxis::InverseKin(Matrix44 t, float* q) {
    KM::WristArmInverse(*this, t, q);
}

void RobotKinematicSixAxis::SetJoints(float* u, bool check) {
    float q[6];
    TakeUserJoints(u, check, q);
    Matrix44 p;
    ForwardKin(q, &p);
    // The elbow side is that of the forearm's angle to the upper arm (joint 3
    // less the forearm offset), folded into -180..180: joint 3 may stand beyond
    // 180 with its 90 offset, and near 0 or 180 the offset decides the side.
    elbowFlag = NormalizeDeg(double(q[2]) - double(forearmAngleOffset) * KM::radToDeg) >= 0.0;
    wristFlag = NormalizeDeg(q[4]) <= 0.0;
    frontFlag = KM::WristInFront(wristPoint, q[0]);
    if (!frontFlag) elbowFlag = !elbowFlag;
    p(2, 3) -= baseHeightOffset;  // report in the user frame
    pose = p;
}

void RobotKinematicSixAxis::SetPosition(Matrix44 t) {
    Matrix44 model = t;
    model(2, 3) += baseHeightOffset;
    if (!KM::IsFinite(model)) Fail(errorOutOfReach, "InvKin: OutofReach");
    float q[6];
    InverseKin(model, q);
    TakeSolution(q, t);
}
