#include "PkgProgram/CommandLoop.h"

#include <tinyxml2.h>

#include <climits>

#include "LogSingleton.h"
#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandLoop::CommandLoop(const Command& record)
{
    typeName = "CommandLoop";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::loopCount, &Command::loopCounter, &Command::mode,
               &Command::condition);
}

void CommandLoop::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    std::string loopMode = CommandText::Text(element, "Mode");
    LogSingleton* log = LogSingleton::instance();
    // A defective loop is still added (as 0 repetitions) so that its EndLoop stays matched.
    valid = true;
    if (loopMode == "Count") {
        mode = 0;
        int times = -1;
        CommandText::QueryInt(element, "Times", &times);
        if (times < 0) {
            loopCount = 0;
            log->add(Format("   Nr. %d: ERROR Loop counting: %d iterations", nr,
                            loopCount));
            return;
        }
        loopCount = times;
        log->add(Format("   Nr. %d: Loop counting: %d iterations", nr, loopCount));
    } else if (loopMode == "DIn") {
        mode = 1;
        condition = CommandText::Text(element, "Condition");
        log->add(Format("   Nr. %d: Loop conditional: %s", nr, condition.c_str()));
    } else {
        mode = 0;
        loopCount = 0;
        log->add(Format("   Nr. %d: ERROR unknown loop mode: %s", nr,
                        loopMode.c_str()));
    }
}

int CommandLoop::Interpolate(int, float, DataTypes::RobotState* state)
{
    if (firstCall) {
        LogSingleton::instance()->add("Loop: ");
        firstCall = false;
        loopCounter = 0;
    }
    if (mode == 1) {
        BooleanLogicParserFrontend evaluator;
        evaluator.SetExpression(condition);
        if (evaluator.GetCurrentResult(memory, state->digitalIn, nullptr, state)) {
            firstCall = true;
            loopCounter = 0;
            return Next();
        }
        if (loopCounter < INT_MAX)
            ++loopCounter;
        return successor[1];
    }
    if (loopCounter < loopCount) {
        ++loopCounter;
        return successor[1];
    }
    loopCounter = 0;
    firstCall = true;
    return Next();
}

std::string CommandLoop::ToString()
{
    return Format("Command DIO %d to %d", dioChannel, dioState ? 1 : 0) + LinksText();
}
