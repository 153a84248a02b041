#include "PkgPluginManager/PluginManager.h"

#include <cstdio>

#include "LogSingleton.h"

namespace PluginFramework {

void PluginManager::StartPlugins() {
    if (!camera.IsRunning()) camera.Start();
}

void PluginManager::StopPlugins() { camera.Stop(); }

int PluginManager::ExecutePluginCmdTarget(std::string name, int* modelClass, float* /*joints*/,
                                          float* pose, float* angles, bool* /*digitalIn*/,
                                          bool* /*digitalOut*/) {
    LogSingleton* log = LogSingleton::instance();
    if (name != "pluginsmartcameraifmo2d") {
        log->addError("Error! Plugin not available: " + name);
        log->DisplaySetMessage("Error! Plugin not available: " + name);
        throw "PluginManager - Plugin not available!";
    }
    if (!camera.IsRunning()) {
        log->addError("Error! IFM-O2D not connected!");
        log->DisplaySetMessage("Error! IFM-O2D not connected!");
        throw "PluginManager - Camera not connected!";
    }
    float xyz[3];
    float angle = 0;
    int cls = 0;
    if (!camera.GetTargetPos(xyz, &angle, &cls)) return 0;
    pose[3] = xyz[0];
    pose[7] = xyz[1];
    pose[11] = xyz[2];
    angles[0] = angle;
    *modelClass = cls;
    char line[256];
    std::snprintf(line, sizeof line,
                  "PluginManager received target: x=%.1lf  y=%.1lf  z=%.1lf -  A=%.2lf  B=%.2lf  "
                  "C=%.2lf - modelclass %d",
                  double(xyz[0]), double(xyz[1]), double(xyz[2]), double(angles[0]),
                  double(angles[1]), double(angles[2]), cls);
    log->add(line);
    return 1;
}

}  // namespace PluginFramework
