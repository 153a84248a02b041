#pragma once

#include <string>

#include "PkgPluginManager/CameraIFMO2D.h"

namespace PluginFramework {

// Owns the sensor plug-ins and answers the program's plug-in commands.
class PluginManager {
public:
    PluginManager() = default;
    virtual ~PluginManager() = default;

    void StartPlugins();
    void StopPlugins();
    // Fills pose (16 floats, x/y/z at 3/7/11), angles[0] and modelClass from the
    // newest target. Returns 1 with a target, 0 while none is available.
    // Throws "PluginManager - Plugin not available!" or "PluginManager - Camera not connected!".
    int ExecutePluginCmdTarget(std::string name, int* modelClass, float* joints, float* pose,
                               float* angles, bool* digitalIn, bool* digitalOut);

    CameraIFMO2D& Camera() { return camera; }

private:
    CameraIFMO2D camera;
};

}  // namespace PluginFramework
