#pragma once

#include <string>
#include <vector>

#include "support/TempDir.h"

// One example project staged as a fresh base directory <temp>/Orvane (the
// controller takes its base directory from its working directory), with what
// the end-to-end checks need to know about its robot read from its files.
class StagedRobot {
public:
    struct Joint {
        int busId = 0;
        float gearScale = 1.0f;
        float gearZero = 0.0f;
    };
    struct Gripper {
        int busId = 0;
        float gearScale = 1.0f;
        float gearZero = 0.0f;
        float motionMin = 0.0f;
        float motionMax = 0.0f;
    };

    // Copies examples/<example> without its Demo folder (the demo programs
    // reach the controller by upload). Throws std::runtime_error on unreadable files.
    explicit StagedRobot(const std::string& example);

    const std::string& Base() const { return base; }
    // examples/<example>/Demo: the demo program and its sub-programs.
    const std::string& DemoFolder() const { return demoFolder; }

    std::string robotType;
    std::string protocol;             // VKTCANV2 or VKTCAN
    std::vector<Joint> joints;        // arm joints in order
    bool hasGripper = false;
    Gripper gripper;
    int ioModule = -1;                // bus id of the first I/O module, -1 without
    bool hasPlatform = false;
    std::string unit;                 // "deg" or "mm"

    // Joint value from the counts a joint module holds.
    static float CountsToJoint(const Joint& joint, long long counts);
    // Counts the gripper module receives for an opening in percent.
    long long GripperCounts(float percent) const;

private:
    TempDir dir;
    std::string base;
    std::string demoFolder;
};
