#include "PkgBooleanLogic/TokenTypes.h"

namespace BooleanLogicParser {

const char* TokenTypeText(TokenTypes type)
{
    switch (type) {
    case TRUE_TOKEN: return "TRUE ";
    case FALSE_TOKEN: return "FALSE ";
    case NEGATION: return "NEGATION ";
    case AND: return "AND ";
    case OR: return "OR ";
    case OPEN_PARENTHESIS: return "OpenParenthesis ";
    case CLOSED_PARENTHESIS: return "ClosedParenthesis ";
    case NUMBER: return "NUMBER ";
    case VARIABLE: return "VARIABLE ";
    case EQUAL: return "Equal ";
    case BIGGER: return "Bigger ";
    case SMALLER: return "Smaller ";
    case BIGGER_EQUAL: return "BiggerEqual ";
    case SMALLER_EQUAL: return "SmallerEqual ";
    case UNDEFINED: break;
    }
    return "UNDEFINED ";
}

bool IsComparison(TokenTypes type)
{
    return type == EQUAL || type == BIGGER || type == SMALLER || type == BIGGER_EQUAL ||
           type == SMALLER_EQUAL;
}

}  // namespace BooleanLogicParser
