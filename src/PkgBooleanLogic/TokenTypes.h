#pragma once

namespace BooleanLogicParser {

// Token kinds of condition expressions.
enum TokenTypes {
    UNDEFINED = 0,
    TRUE_TOKEN = 1,
    FALSE_TOKEN = 2,
    NEGATION = 3,
    AND = 4,
    OR = 5,
    OPEN_PARENTHESIS = 6,
    CLOSED_PARENTHESIS = 7,
    NUMBER = 8,
    VARIABLE = 9,
    EQUAL = 10,
    BIGGER = 11,
    SMALLER = 12,
    BIGGER_EQUAL = 13,
    SMALLER_EQUAL = 14
};

// Display text of a token kind (with its trailing blank).
const char* TokenTypeText(TokenTypes type);

// True for =, >, <, >=, <=.
bool IsComparison(TokenTypes type);

}  // namespace BooleanLogicParser
