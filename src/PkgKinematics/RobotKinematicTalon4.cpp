#include "PkgKinematics/RobotKinematicTalon4.h"

#include <cmath>

#include "PkgKinematics/KinematicMath.h"
#include "TextFormat.h"

using DataTypes::Matrix44;
using KM = KinematicMath;

RobotKinematicTalon4::RobotKinematicTalon4() {
    jointCount = 4;
    lz0 = 158.0f;
    lz1 = 60.0f;
    lz2 = 190.0f;
    lz3 = 220.0f;
    lz4 = 46.0f;
    center = 5.0f;
    ellbow = 30.0f;
    for (int i = 0; i < 4; ++i) joints[i] = 10.0f;
    // Defined before the first SetJoints, like the five-axis arm.
    frontFlag = true;
    elbowFlag = true;
}

void RobotKinematicTalon4::clone(RobotKinematic* other) { CopyFromSameKind(this, other); }

std::unique_ptr<RobotKinematic> RobotKinematicTalon4::Duplicate() const {
    return std::make_unique<RobotKinematicTalon4>(*this);
}

void RobotKinematicTalon4::SetInitDefaults() {
    const float initial[4] = {0.0f, -20.0f, 110.0f, 0.0f};
    for (int i = 0; i < 4; ++i) joints[i] = initial[i];
    pose = Matrix44();
    pose.SetTranslation(0.0f, 0.0f, 300.0f);
    const float mins[4] = {-150.0f, -40.0f, -120.0f, -150.0f};
    const float maxs[4] = {150.0f, 60.0f, 140.0f, 150.0f};
    for (int i = 0; i < 4; ++i) {
        jointMin[i] = mins[i];
        jointMax[i] = maxs[i];
        maxJointVelocities[i] = 100.0f;
    }
}

std::string RobotKinematicTalon4::JointLengthLine() const {
    return Format("   Joint length: lz0 %.1lf, lz1 %.1lf, lz2 %.1lf, lz3 %.1lf, lz4 %.1lf", double(lz0), double(lz1),
                  double(lz2), double(lz3), double(lz4));
}

void RobotKinematicTalon4::ForwardKinJ4toJ6(float* q, Matrix44* out) {
    *out = KM::Product(KM::Ry(q[3]), KM::Tr(0.0f, 0.0f, lz4));
}

void RobotKinematicTalon4::InverseKin(Matrix44 t, float* q) {
    ComputeA1toA3(t, q);
    Matrix44 a;
    ForwardKinJ1toJ3(q, &a);
    wristPoint = KM::Translation(a);
    const Matrix44 r = KM::Product(KM::RigidInverse(a), t);
    const double a4 = std::atan2(-double(r(0, 2)), double(r(2, 2)));
    q[3] = float(-a4 * KM::radToDeg);
}
