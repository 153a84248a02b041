#pragma once

#include "PkgProgram/Command.h"

// Stores a number or the robot's current position in a program variable.
class CommandStoreData : public Command {
public:
    explicit CommandStoreData(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;
};
