#pragma once

#include <memory>
#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"
#include "PkgKinematics/RobotKinematic.h"

// Six-joint articulated arm with a spherical wrist: base rotation (1), two
// parallel shoulder/elbow joints (2, 3) and a roll-pitch-roll wrist (4, 5, 6).
// Closed-form inverse; the configuration (front/rear, elbow, wrist) of the last
// joint-space move is kept by every following SetPosition.
//
// Frames: the robot works in the user frame, which lies baseHeightOffset
// (zOffset) below the kinematic model's base. SetPosition solves for the target
// raised by that offset and stores the target as given; SetJoints reports the
// flange in the same user frame, so pose -> SetPosition -> pose never drifts.
class RobotKinematicSixAxis : public RobotKinematic {
public:
    RobotKinematicSixAxis();

    void clone(RobotKinematic* other) override;
    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    void SetJoints(float* userJoints, bool check) override;
    void SetPosition(DataTypes::Matrix44 pose) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;

    void ReadIniFile(const std::string& iniFile);

    // All q arrays hold internal-convention degrees; poses are model frame.
    void ForwardKinJ1toJ3(float* q, DataTypes::Matrix44* out);
    void ForwardKinJ4toJ6(float* q, DataTypes::Matrix44* out);
    void ForwardKin(float* q, DataTypes::Matrix44* out);
    void ComputeA1toA3(DataTypes::Matrix44 target, float* q);
    void ComputeA4toA6(DataTypes::Matrix44 target, DataTypes::Matrix44 armFrame, float* q);
    void InverseKin(DataTypes::Matrix44 target, float* q);

    float lz0 = 122.15f;
    float lx1 = 0.0f;
    float lz1 = 76.3f;
    float lx2 = 350.0f;
    float lx3 = 400.0f;
    float lz3 = 45.0f;
    float lx4 = 0.0f;
    float lx6 = 80.0f;
    bool frontFlag = true;
    bool elbowFlag = true;
    bool wristFlag = false;
    DataTypes::Vector3 wristPoint;
    float center = 100.0f;  // singularity distance around the base axis, mm
    float ellbow = 20.0f;   // reach margin of the stretched arm, mm
    float wrist = 5.0f;     // wrist singularity angle, degrees
    float forearmAngleOffset = 0.0f;  // atan(lz3 / (lx3 + lx4)), radians

private:
    void ValidateGeometry() const;
};
