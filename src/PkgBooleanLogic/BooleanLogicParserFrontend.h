#pragma once

#include <string>
#include <vector>

#include "PkgBooleanLogic/Parser.h"

// Entry point of the conditional commands: set the condition text, then evaluate it
// against the memory, the digital inputs and the robot state.
class BooleanLogicParserFrontend {
public:
    virtual ~BooleanLogicParserFrontend() = default;

    void SetExpression(std::string text);
    // Throws const char* texts for malformed expressions and unknown variables.
    bool GetCurrentResult(std::vector<MemoryPosition>* memory, bool* din, bool* gsig,
                          DataTypes::RobotState* state);

    std::string expressionText;
    BooleanLogicParser::Parser parser;
};
