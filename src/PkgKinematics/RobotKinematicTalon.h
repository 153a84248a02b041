#pragma once

#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"
#include "PkgKinematics/RobotKinematic.h"

// Common part of the small four- and five-joint arms: base rotation about z
// (joint 1), two parallel pitch joints (2, 3) and a pitch wrist joint (4),
// plus a roll joint (5) on the five-axis arm. As they cannot reach every
// orientation, SetPosition first projects the requested tool axis into the
// vertical plane through the base axis and the target (LimitOrientation).
class RobotKinematicTalon : public RobotKinematic {
public:
    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    void SetJoints(float* userJoints, bool check) override;
    void SetPosition(DataTypes::Matrix44 pose) override;

    void ReadIniFile(const std::string& iniFile);

    // q in internal-convention degrees.
    void ForwardKinJ1toJ3(float* q, DataTypes::Matrix44* out);
    virtual void ForwardKinJ4toJ6(float* q, DataTypes::Matrix44* out) = 0;
    void ForwardKin(float* q, DataTypes::Matrix44* out);
    void ComputeA1toA3(DataTypes::Matrix44 target, float* q);
    virtual void InverseKin(DataTypes::Matrix44 target, float* q) = 0;
    // Changes the orientation of *pose in place to the nearest reachable one;
    // the translation is untouched. Throws 22 when the tool axis points
    // straight out of that plane (no nearest direction exists).
    void LimitOrientation(DataTypes::Matrix44* pose);

    float lz0 = 0.0f, lz1 = 0.0f, lz2 = 0.0f, lz3 = 0.0f, lz4 = 0.0f, lz5 = 0.0f, ly0 = 0.0f;
    float center = 0.0f;  // singularity distance around the base axis, mm
    float ellbow = 0.0f;  // reach margin of the stretched arm, mm
    bool frontFlag = true;
    bool elbowFlag = true;
    DataTypes::Vector3 wristPoint;

protected:
    RobotKinematicTalon() = default;
    // Wrist point to flange distance along the tool axis.
    virtual float WristLength() const = 0;
    // Whether the inverse honours the front flag (rear solutions).
    virtual bool UsesFrontFlag() const = 0;
    virtual std::string ClassName() const = 0;
    virtual void SetInitDefaults() = 0;
    virtual std::string JointLengthLine() const = 0;
};
