#pragma once

#include <string>
#include <vector>

// What the simulator must stand in for, read from the same files as the
// controller: front-end file, project file, robot configuration, tool file.
class SimConfig {
public:
    enum Kind { ArmJoint, GripperJoint, PlatformJoint, IOModule };
    struct Module {
        Kind kind = ArmJoint;
        int index = 0;  // joint number within its kind
        int busId = 0;
        float gearScale = 190.0f;
        float gearZero = 0.0f;
    };

    // Reads everything below `baseDirectory` (the folder holding VKTFrontend.xml).
    // Returns "" on success, else what is wrong.
    std::string Load(const std::string& baseDirectory);

    std::string protocol;   // "VKTCAN" or "VKTCANV2"
    std::string robotType;
    std::string projectFile;
    std::vector<Module> modules;

    static const char* KindName(Kind kind);
};
