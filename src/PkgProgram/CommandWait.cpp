#include "PkgProgram/CommandWait.h"

#include <tinyxml2.h>

#include <climits>
#include <cmath>

#include "LogSingleton.h"
#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"
#include "PkgProgram/CommandText.h"

namespace {

// Saturates instead of overflowing on very long waits.
int Saturated(int elapsed, int cycleMs)
{
    if (cycleMs < 0)
        cycleMs = 0;
    return elapsed > INT_MAX - cycleMs ? INT_MAX : elapsed + cycleMs;
}

}  // namespace

CommandWait::CommandWait()
{
    typeName = "CommandWait";
    waitTimeMs = 0;
    waitElapsedMs = 0;
}

CommandWait::CommandWait(int ms) : CommandWait() { waitTimeMs = ms; }

CommandWait::CommandWait(const Command& record) : CommandWait()
{
    CopyCommonFrom(record);
    waitTimeMs = record.waitTimeMs;
    waitElapsedMs = record.waitElapsedMs;
    mode = record.mode;
    condition = record.condition;
}

void CommandWait::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = 0;
    CommandText::QueryInt(element, "Nr", &nr);
    std::string type = CommandText::Text(element, "Type");
    LogSingleton* log = LogSingleton::instance();
    if (type == "Conditional") {
        mode = 1;
        condition = CommandText::Text(element, "Condition");
        valid = true;
        log->add(CommandText::Format("   Nr. %d: Wait conditional: %s", nr, condition.c_str()));
        return;
    }
    mode = 0;
    waitTimeMs = 0;
    if (type == "Time") {
        // Whole seconds are taken as integers, fractions as floats: "1.5" waits 1500 ms.
        float f = 0.0f;
        int k = 0;
        CommandText::QueryFloat(element, "Seconds", &f);
        CommandText::QueryInt(element, "Seconds", &k);
        double ms = (static_cast<double>(k) < f) ? static_cast<double>(f) * 1000.0
                                                   : static_cast<double>(k) * 1000.0;
        if (!(ms >= 0.0 && ms <= static_cast<double>(INT_MAX))) {
            log->addError(CommandText::Format("   Nr. %d: ERROR Wait time out of range: %s s", nr,
                                              CommandText::Text(element, "Seconds").c_str()));
            valid = false;
            return;
        }
        waitTimeMs = static_cast<int>(ms);
    }
    valid = true;
    log->add(CommandText::Format("   Nr. %d: Wait %d ms", nr, waitTimeMs));
}

int CommandWait::Interpolate(int cycleMs, float, DataTypes::RobotState* state)
{
    if (firstCall) {
        firstCall = false;
        waitElapsedMs = 0;
    }
    if (mode == 1) {
        BooleanLogicParserFrontend evaluator;
        evaluator.SetExpression(condition);
        if (evaluator.GetCurrentResult(memory, state->digitalIn, nullptr, state)) {
            waitElapsedMs = 0;
            firstCall = true;
            return Next();
        }
        waitElapsedMs = Saturated(waitElapsedMs, cycleMs);
        return ResultAgain;
    }
    waitElapsedMs = Saturated(waitElapsedMs, cycleMs);
    if (waitElapsedMs > waitTimeMs || waitElapsedMs == INT_MAX) {
        waitElapsedMs = 0;
        firstCall = true;
        return Next();
    }
    return ResultAgain;
}
