#pragma once

#include <string>

#include "PkgDataTypes/RobotState.h"

// The texts the front-end server sends, each framed by "NEXSTART" and
// "NEXEND" and ended by one line feed. `counter` is the telegram counter.
class ComTelegram {
public:
    static std::string Status(int counter, const DataTypes::RobotState& state);
    static std::string Message(int counter, const std::string& text);
    static std::string Answer(int counter, const std::string& text);
};
