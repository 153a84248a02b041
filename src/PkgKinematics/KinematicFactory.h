#pragma once

#include <memory>
#include <string>

#include "PkgKinematics/RobotKinematic.h"

// Creates kinematics by the `Type` of the robot configuration's `Kinematic`
// element:
//   "StandardSixAxisPlus" RobotKinematicSixAxis   "Cartesian" RobotKinematicCartesian
//   "VKTTalon4"           RobotKinematicTalon4    "VKTTalon5" RobotKinematicTalon5
//   "VKTRover"            RobotKinematicRover     "VKT_Delta" RobotKinematicDelta
class KinematicFactory {
public:
    // A new, not yet initialised kinematic of the named type; nullptr for an
    // unknown name (the caller reports it: exit code 54).
    static std::unique_ptr<RobotKinematic> Create(const std::string& typeName);

    // An independent copy of an initialised kinematic, same kind and state
    // (geometry, limits, offsets, cycle time, joints, pose, configuration
    // flags). This is how the path planner gets its own instance for every
    // kind: call it after the robot's kinematic got its Init and cycle time,
    // keep the copy owned next to the planner, never share it with the cycle loop.
    static std::unique_ptr<RobotKinematic> CreateCopy(const RobotKinematic& source);
};
