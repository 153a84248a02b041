#pragma once

#include <memory>
#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgKinematics/RobotKinematic.h"

// The mobile platform alone as the robot: four wheel joints, no Cartesian arm
// model. A platform target (x, y, heading) becomes wheel increments.
class RobotKinematicRover : public RobotKinematic {
public:
    static constexpr float wheelCircumference = 314.72818f;  // mm
    static constexpr float turningCircumference = 1350.63f;  // mm
    static constexpr float headingFactor = -514.8f;
    static constexpr float toolHeight = 160.0f;  // mm

    RobotKinematicRover();

    void clone(RobotKinematic* other) override;
    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    // Stores the four wheel values; no limits, no pose change.
    void SetJoints(float* q, bool check) override;
    using RobotKinematic::SetPosition;  // the pose form does nothing here
    // p = (x, y, unused, heading A in degrees).
    void SetPosition(float* p);
    std::unique_ptr<RobotKinematic> Duplicate() const override;
};
