#include "PkgProgram/CommandIf.h"

#include <tinyxml2.h>

#include "LogSingleton.h"
#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandIf::CommandIf(const Command& record)
{
    typeName = "CommandIf";
    CopyCommonFrom(record);
    condition = record.condition;
}

void CommandIf::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    condition = CommandText::Text(element, "Condition");
    valid = true;
    LogSingleton::instance()->add(
        Format("   Nr. %d: If Condition %s", nr, condition.c_str()));
}

int CommandIf::Interpolate(int, float, DataTypes::RobotState* state)
{
    if (firstCall) {
        firstCall = false;
        BooleanLogicParserFrontend evaluator;
        evaluator.SetExpression(condition);
        bool result = evaluator.GetCurrentResult(memory, state->digitalIn, nullptr, state);
        LogSingleton::instance()->add(
            Format("IF evaluation: %s = %d", condition.c_str(), result ? 1 : 0));
        return result ? successor[1] : successor[2];
    }
    LogSingleton::instance()->add("EndIf");
    firstCall = true;
    return Next();
}

std::string CommandIf::ToString()
{
    return "Command IF" + LinksText();
}
