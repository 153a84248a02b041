#pragma once

#include <string>

#include "PkgDataTypes/RobotState.h"

// One program variable: either a number or a robot position.
class MemoryPosition {
public:
    // Compared exactly; the program readers lower-case names before they get here.
    std::string name;
    // "number" or "position".
    std::string type;
    // Position of a position variable (posCartRobot, posA/B/C, jointSetPoint).
    DataTypes::RobotState state;
    // Number of a number variable.
    float value = 0.0f;
};
