#pragma once

#include "PkgProgram/Command.h"

// Arithmetic on program variables.
// Its step: applies add, subtract or set to a number variable or a position
// element.
class CommandMathFunction : public Command {
public:
    explicit CommandMathFunction(const Command& record = Command());
    COMMAND_KIND_STEPS

private:
    float ReadOperand(const std::string& operand, DataTypes::RobotState* state);
};
