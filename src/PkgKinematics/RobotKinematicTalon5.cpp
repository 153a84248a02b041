#include "PkgKinematics/RobotKinematicTalon5.h"

#include <cmath>

#include "PkgKinematics/KinematicMath.h"
#include "TextFormat.h"

using DataTypes::Matrix44;
using KM = KinematicMath;

RobotKinematicTalon5::RobotKinematicTalon5() {
    kinematicName = "RobotKinematicTalon5";
    jointCount = 5;
    lz0 = 122.15f;
    lz1 = 76.3f;
    lz2 = 350.0f;
    lz3 = 45.0f;
    lz4 = 0.0f;
    lz5 = 80.0f;
    ly0 = 0.0f;
    center = 100.0f;
    ellbow = 20.0f;
    const float initial[5] = {0.0f, 30.0f, 40.0f, 0.0f, 0.0f};
    for (int i = 0; i < 5; ++i) joints[i] = initial[i];
    jointOffsets[2] = 90.0f;
    frontFlag = true;
    elbowFlag = true;
}

void RobotKinematicTalon5::clone(RobotKinematic* other) { CopyFromSameKind(this, other); }

std::unique_ptr<RobotKinematic> RobotKinematicTalon5::Duplicate() const {
    return std::make_unique<RobotKinematicTalon5>(*this);
}

void RobotKinematicTalon5::SetInitDefaults() { SetArmDefaults(); }

std::string RobotKinematicTalon5::JointLengthLine() const {
    return Format("   Joint length: lz0 %.1lf, lz1 %.1lf, lz2 %.1lf, lz3 %.1lf, lz4 %.1lf, lz5 %.1lf, ly0 %.1lf",
                  double(lz0), double(lz1), double(lz2), double(lz3), double(lz4), double(lz5), double(ly0));
}

void RobotKinematicTalon5::ForwardKinJ4toJ6(float* q, Matrix44* out) {
    Matrix44 w = KM::Product(KM::Tr(0.0f, -ly0, 0.0f), KM::Ry(q[3]));
    w = KM::Product(w, KM::Rz(q[4]));
    *out = KM::Product(w, KM::Tr(0.0f, 0.0f, lz4 + lz5));
}

void RobotKinematicTalon5::ComputeA4toA6(Matrix44 t, Matrix44 armFrame, float* q) {
    const Matrix44 r = KM::Product(KM::RigidInverse(armFrame), t);
    const double a4 = std::atan2(-double(r(0, 2)), double(r(2, 2)));
    q[3] = float(-a4 * KM::radToDeg);
    const Matrix44 r1 = KM::Product(KM::Ry(a4 * KM::radToDeg), r);
    q[4] = float(std::atan2(double(r1(1, 0)), double(r1(0, 0))) * KM::radToDeg);
}

void RobotKinematicTalon5::InverseKin(Matrix44 t, float* q) {
    KM::WristArmInverse(*this, t, q);
}
