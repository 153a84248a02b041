#include "PkgBooleanLogic/Token.h"

#include "TextFormat.h"

namespace BooleanLogicParser {

std::string Token::toString() const
{
    if (type == NUMBER)
        return Format("Token %s  Value: %.1f", TokenTypeText(type), value);
    if (type == VARIABLE)
        return Format("Token %s  Name: %s", TokenTypeText(type), name.c_str());
    return Format("Token %s  ", TokenTypeText(type));
}

}  // namespace BooleanLogicParser
