#pragma once

#include <cstdint>
#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"

namespace DataTypes {

// The robot at an instant: pose, joints of arm, gripper and platform, I/O,
// bus status and program status. A plain value, copied between threads only
// by the robot cycle loop.
class RobotState {
public:
    static constexpr int maxJoints = 9;
    static constexpr int maxGripperJoints = 3;
    static constexpr int maxPlatformJoints = 4;
    static constexpr int maxIO = 64;
    static constexpr int maxBusJoints = 16;

    Matrix44 posCartRobot;
    float posA;
    float posB;
    float posC;
    Vector3 posVector;
    float jointSetPoint[maxJoints];
    float jointCurrent[maxJoints];
    float gripperSetPoint[maxGripperJoints];
    float gripperCurrent[maxGripperJoints];
    float platformSetPoint[maxPlatformJoints];
    float platformCurrent[maxPlatformJoints];
    bool digitalIn[maxIO];
    bool digitalOut[maxIO];
    bool flag;
    float override;
    std::string errorText;
    int32_t jointError[maxBusJoints];
    int32_t kinState;
    int32_t supply;
    int32_t currentAll;
    int32_t jointMotorCurrent[maxBusJoints];
    int32_t emergencyStop;
    float jointTemperature[maxBusJoints];
    float jointValueB[maxBusJoints];
    int32_t referenceState;
    bool jointReferenced[maxBusJoints];
    int32_t programStatus[4];
    std::string programName;

    RobotState();
    RobotState(const RobotState& other) = default;
    RobotState& operator=(const RobotState& other) = default;
    virtual ~RobotState() = default;

    // "( x y z )" of the pose translation, "%f" each.
    std::string ToStringPos() const;
    // The same form for set-points of joints 1 to 3.
    std::string ToStringJoints() const;

    // Bit i = entry i, as published to the front-end.
    static uint64_t PackBits(const bool (&bits)[maxIO]);
    uint64_t DigitalInBits() const { return PackBits(digitalIn); }
    uint64_t DigitalOutBits() const { return PackBits(digitalOut); }
};

}  // namespace DataTypes
