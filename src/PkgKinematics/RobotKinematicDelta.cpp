#include "PkgKinematics/RobotKinematicDelta.h"

#include <cmath>

#include "LogSingleton.h"
#include "PkgKinematics/KinematicMath.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;

namespace {
const float armAngleRad = 2.0943952f;  // 120 degrees
}

RobotKinematicDelta::RobotKinematicDelta() {
    jointCount = 3;
    for (int i = 0; i < 3; ++i) joints[i] = 0.0f;
    SetGeometry();
}

void RobotKinematicDelta::SetGeometry() {
    baseJointHeight = 20.0f;
    baseRadius = 50.0f;
    upperArmLength = 140.0f;
    lowerArmLength = 180.0f;
    platformRadius = 30.0f;
    platformHeight = 10.0f;
    linkageAngleLimit = 30.0f;
    reachMargin = 20.0f;
    pose = Matrix44();
    pose.SetTranslation(0.0f, 0.0f, 300.0f);
    for (int i = 0; i < 3; ++i) {
        jointMin[i] = -90.0f;
        jointMax[i] = 120.0f;
        maxJointVelocities[i] = 100.0f;
    }
}

void RobotKinematicDelta::clone(RobotKinematic*) {}

std::unique_ptr<RobotKinematic> RobotKinematicDelta::Duplicate() const {
    return std::make_unique<RobotKinematicDelta>(*this);
}

void RobotKinematicDelta::Init(std::string name, std::string type, std::string) {
    robotName = name;
    robotType = type;
    SetGeometry();
    LogSingleton::instance()->add("RKDelta: Init");
}

Vector3 RobotKinematicDelta::ArmVector(const Vector3& p) const {
    return Vector3(p.x - baseRadius + platformRadius, p.y, p.z - baseJointHeight - platformHeight);
}

Vector3 RobotKinematicDelta::Elbow(float q) const {
    Vector3 e(0.0f, 0.0f, upperArmLength);
    e.RotateYRad(float((90.0 - double(q)) * KinematicMath::pi / 180.0));
    return e;
}

float RobotKinematicDelta::ComputeOneJoint(int, Vector3 p) {
    const Vector3 v = ArmVector(p);
    const double vx = v.x, vy = v.y, vz = v.z;
    const double upper = upperArmLength, lower = lowerArmLength;
    const double len = std::sqrt(vx * vx + vy * vy + vz * vz);
    if (!std::isfinite(len) || len + reachMargin > upper + lower) throw int(errorDeltaOutOfReach);
    // Lower arm too short for the sideways offset, or the platform joint sits
    // on the upper-arm axis: no arm pose exists.
    const double h2 = lower * lower - vy * vy;
    const double e = std::sqrt(vx * vx + vz * vz);
    if (h2 < 0.0 || !(e > 0.0)) throw int(errorDeltaOutOfReach);
    const double c = (upper * upper + e * e - h2) / (2.0 * upper * e);
    if (std::fabs(c) > 1.0 + 1e-6) throw int(errorDeltaOutOfReach);
    const double phi = std::atan2(vx, vz);
    return float(90.0 + (-phi - KinematicMath::SafeAcos(c)) * 57.29578);
}

void RobotKinematicDelta::InverseKin(Matrix44 target, float* q) {
    Vector3 p(target(0, 3), target(1, 3), target(2, 3));
    q[0] = ComputeOneJoint(0, p);
    p.RotateZRad(armAngleRad);
    q[1] = ComputeOneJoint(1, p);
    p.RotateZRad(armAngleRad);
    q[2] = ComputeOneJoint(2, p);
}

float RobotKinematicDelta::ComputeError(float q, Vector3 p) {
    const Vector3 v = ArmVector(p);
    const Vector3 e = Elbow(q);
    const double dx = double(v.x) - e.x, dy = double(v.y) - e.y, dz = double(v.z) - e.z;
    return float(double(lowerArmLength) - std::sqrt(dx * dx + dy * dy + dz * dz));
}

float RobotKinematicDelta::Fitness(float* q, Vector3 p) {
    double sum = 0.0;
    for (int arm = 0; arm < 3; ++arm) {
        const double e = ComputeError(q[arm], p);
        sum += e * e;
        p.RotateZRad(armAngleRad);
    }
    return float(std::sqrt(sum));
}

void RobotKinematicDelta::Elbows(const float* q, Vector3* elbows) const {
    for (int arm = 0; arm < 3; ++arm) elbows[arm] = Elbow(q[arm]);
}

float RobotKinematicDelta::FitnessOfElbows(const Vector3* elbows, Vector3 p) const {
    // The arm rotation of Vector3::RotateZRad with its sine and cosine taken once.
    static const float c = std::cos(armAngleRad);
    static const float s = std::sin(armAngleRad);
    double sum = 0.0;
    for (int arm = 0; arm < 3; ++arm) {
        const Vector3 v = ArmVector(p);
        const Vector3& e = elbows[arm];
        const double dx = double(v.x) - e.x, dy = double(v.y) - e.y, dz = double(v.z) - e.z;
        const double error = float(double(lowerArmLength) - std::sqrt(dx * dx + dy * dy + dz * dz));
        sum += error * error;
        const float nx = c * p.x - s * p.y;
        const float ny = s * p.x + c * p.y;
        p.x = nx;
        p.y = ny;
    }
    return float(std::sqrt(sum));
}

void RobotKinematicDelta::ForwardKin(float* q, Matrix44* target) {
    Vector3 elbows[3];
    Elbows(q, elbows);
    Vector3 centre((*target)(0, 3), (*target)(1, 3), (*target)(2, 3));
    float step = searchStartStep;
    float previousBest = 1e10f;
    for (int pass = 0; pass < maxSearchPasses; ++pass) {
        float passBest = 1e9f;
        Vector3 bestPoint = centre;
        for (int i = -1; i <= 1; ++i)
            for (int j = -1; j <= 1; ++j)
                for (int k = -1; k <= 1; ++k) {
                    const Vector3 candidate(centre.x + i * step, centre.y + j * step, centre.z + k * step);
                    const float f = FitnessOfElbows(elbows, candidate);
                    if (f < passBest) {
                        passBest = f;
                        bestPoint = candidate;
                    }
                }
        // The centre follows the best point, so the search also finds
        // positions more than one step away. The steps shrink once the centre
        // itself stays best.
        if (!(passBest < previousBest)) {
            step *= 0.5f;
        } else {
            previousBest = passBest;
            centre = bestPoint;
        }
        if (passBest < searchGoodEnough) break;
    }
    centre = Polish(q, centre, previousBest < 1e10f ? previousBest : Fitness(q, centre));
    target->SetTranslation(centre.x, centre.y, centre.z);
}

// Newton steps on the three closing errors, each kept only when it lowers the
// fitness: the grid search ends within a few micrometres at best (and further
// off when its passes run out), the published pose should be exact.
Vector3 RobotKinematicDelta::Polish(float* q, Vector3 p, float fitness) {
    for (int iteration = 0; iteration < 4 && fitness > 1e-6f; ++iteration) {
        double jac[3][3], err[3];
        Vector3 rotated = p;
        for (int arm = 0; arm < 3; ++arm) {
            const Vector3 v = ArmVector(rotated);
            const Vector3 e = Elbow(q[arm]);
            double u[3] = {double(v.x) - e.x, double(v.y) - e.y, double(v.z) - e.z};
            const double len = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
            if (!(len > 1e-9)) return p;
            for (double& c : u) c /= len;
            err[arm] = double(lowerArmLength) - len;
            // d err / d p = -(R_arm^T u): rotate u back by -arm * 120 degrees.
            const double a = -double(arm) * 2.0943951023931953;
            jac[arm][0] = -(std::cos(a) * u[0] - std::sin(a) * u[1]);
            jac[arm][1] = -(std::sin(a) * u[0] + std::cos(a) * u[1]);
            jac[arm][2] = -u[2];
            rotated.RotateZRad(armAngleRad);
        }
        // Solve jac * d = -err by Cramer's rule.
        const double det = jac[0][0] * (jac[1][1] * jac[2][2] - jac[1][2] * jac[2][1]) -
                           jac[0][1] * (jac[1][0] * jac[2][2] - jac[1][2] * jac[2][0]) +
                           jac[0][2] * (jac[1][0] * jac[2][1] - jac[1][1] * jac[2][0]);
        if (!(std::fabs(det) > 1e-9)) return p;
        double d[3];
        for (int c = 0; c < 3; ++c) {
            double m[3][3];
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k) m[r][k] = (k == c) ? -err[r] : jac[r][k];
            d[c] = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                    m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0])) / det;
        }
        const Vector3 candidate(float(p.x + d[0]), float(p.y + d[1]), float(p.z + d[2]));
        const float f = Fitness(q, candidate);
        if (!(f < fitness)) return p;
        p = candidate;
        fitness = f;
    }
    return p;
}

void RobotKinematicDelta::checkLinkages(float* q, Vector3 p) {
    const Vector3 axis(0.0f, 100.0f, 0.0f);
    for (int arm = 0; arm < 3; ++arm) {
        if (arm > 0) p.RotateZRad(armAngleRad);
        const Vector3 v = ArmVector(p);
        const Vector3 e = Elbow(q[arm]);
        const Vector3 l(v.x - e.x, v.y - e.y, v.z - e.z);
        const double a = KinematicMath::SafeAcos(Vector3::Cos(l, axis)) * KinematicMath::radToDeg;
        if (!(90.0 - a <= linkageAngleLimit)) throw int(errorDeltaLinkage);
    }
}

void RobotKinematicDelta::SetJoints(float* q, bool check) {
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(q[i])) throw int(errorJointBelowMin);
    if (check) CheckJoints(q);
    Matrix44 p = pose;
    ForwardKin(q, &p);
    const Vector3 point(p(0, 3), p(1, 3), p(2, 3));
    checkLinkages(q, point);
    for (int i = 0; i < 3; ++i) joints[i] = q[i];
    pose.SetTranslation(point.x, point.y, point.z);
}

void RobotKinematicDelta::SetPosition(Matrix44 target) {
    const Vector3 p(target(0, 3), target(1, 3), target(2, 3));
    float q[3];
    InverseKin(target, q);
    checkLinkages(q, p);
    pose.SetTranslation(p.x, p.y, p.z);
    for (int i = 0; i < 3; ++i) joints[i] = q[i];
}
