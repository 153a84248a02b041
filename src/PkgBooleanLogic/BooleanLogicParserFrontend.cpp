#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"

void BooleanLogicParserFrontend::SetExpression(std::string text)
{
    expressionText = text;
    parser.SetExpression(text);
}

bool BooleanLogicParserFrontend::GetCurrentResult(std::vector<MemoryPosition>* memory, bool* din,
                                                  bool* gsig, DataTypes::RobotState* state)
{
    return parser.Evaluate(memory, din, gsig, state);
}
