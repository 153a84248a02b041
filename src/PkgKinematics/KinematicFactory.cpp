#include "PkgKinematics/KinematicFactory.h"

#include "PkgKinematics/RobotKinematicCartesian.h"
#include "PkgKinematics/RobotKinematicDelta.h"
#include "PkgKinematics/RobotKinematicRover.h"
#include "PkgKinematics/RobotKinematicSixAxis.h"
#include "PkgKinematics/RobotKinematicTalon4.h"
#include "PkgKinematics/RobotKinematicTalon5.h"

std::unique_ptr<RobotKinematic> KinematicFactory::Create(const std::string& typeName) {
    if (typeName == "StandardSixAxisPlus") return std::make_unique<RobotKinematicSixAxis>();
    if (typeName == "Cartesian") return std::make_unique<RobotKinematicCartesian>();
    if (typeName == "VKTTalon4") return std::make_unique<RobotKinematicTalon4>();
    if (typeName == "VKTTalon5") return std::make_unique<RobotKinematicTalon5>();
    if (typeName == "VKTRover") return std::make_unique<RobotKinematicRover>();
    if (typeName == "VKT_Delta") return std::make_unique<RobotKinematicDelta>();
    return nullptr;
}

std::unique_ptr<RobotKinematic> KinematicFactory::CreateCopy(const RobotKinematic& source) {
    return source.Duplicate();
}
