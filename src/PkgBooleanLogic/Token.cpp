#include "PkgBooleanLogic/Token.h"

#include "PkgProgram/CommandText.h"

namespace BooleanLogicParser {

std::string Token::toString() const
{
    if (type == NUMBER)
        return CommandText::Format("Token %s  Value: %.1f", TokenTypeText(type), value);
    if (type == VARIABLE)
        return CommandText::Format("Token %s  Name: %s", TokenTypeText(type), name.c_str());
    return CommandText::Format("Token %s  ", TokenTypeText(type));
}

}  // namespace BooleanLogicParser
