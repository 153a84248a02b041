#pragma once

#include <string>

#include "PkgBooleanLogic/TokenTypes.h"

namespace BooleanLogicParser {

// One token of a condition expression.
class Token {
public:
    Token() = default;
    explicit Token(TokenTypes tokenType) : type(tokenType) {}
    Token(const Token&) = default;
    Token& operator=(const Token&) = default;
    virtual ~Token() = default;

    std::string toString() const;

    TokenTypes type = UNDEFINED;
    // Variable name of a variable token.
    std::string name = "na";
    // Value of a number token.
    float value = 0.0f;
};

}  // namespace BooleanLogicParser
