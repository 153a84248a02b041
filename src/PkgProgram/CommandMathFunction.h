#pragma once

#include "PkgProgram/Command.h"

// Arithmetic on program variables.
class CommandMathFunction : public Command {
public:
    explicit CommandMathFunction(const Command& record = Command());

    void ReadXML(tinyxml2::XMLElement* element, bool unused) override;
    // Applies add, subtract or set to a number variable or a position element.
    int Interpolate(int cycleMs, float overridePercent, DataTypes::RobotState* state) override;
    std::string ToString() override;

private:
    float ReadOperand(const std::string& operand, DataTypes::RobotState* state);
};
