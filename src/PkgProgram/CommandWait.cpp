#include "PkgProgram/CommandWait.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <string>

#include "LogSingleton.h"
#include "PkgBooleanLogic/BooleanLogicParserFrontend.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

namespace {

// Saturates instead of overflowing on very long waits.
int Saturated(int elapsed, int cycleMs)
{
    if (cycleMs < 0)
        cycleMs = 0;
    return elapsed > INT_MAX - cycleMs ? INT_MAX : elapsed + cycleMs;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

enum class MsResult { Ok, NoNumber, OutOfRange };

// Milliseconds of a decimal number of seconds, read exactly from its text and
// rounded to the nearest millisecond, halves up: "0.7" is 700 ms, where a float
// (0.69999...) would give 699. Read like the other number attributes: blanks,
// sign, digits, point, digits, exponent; whatever follows is ignored.
MsResult SecondsToMs(const std::string& text, int* out)
{
    size_t p = 0;
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p])))
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-'))
        negative = text[p++] == '-';
    std::string digits;  // the significant digits, without leading zeros
    long long exponent = 3;  // seconds to milliseconds
    bool any = false;
    for (; p < text.size() && IsDigit(text[p]); ++p) {
        any = true;
        if (!digits.empty() || text[p] != '0')
            digits += text[p];
    }
    if (p < text.size() && text[p] == '.') {
        for (++p; p < text.size() && IsDigit(text[p]); ++p) {
            any = true;
            if (!digits.empty() || text[p] != '0')
                digits += text[p];
            --exponent;
        }
    }
    if (!any)
        return MsResult::NoNumber;
    if (p + 1 < text.size() && (text[p] == 'e' || text[p] == 'E')) {
        size_t q = p + 1;
        bool negativeExponent = false;
        if (text[q] == '+' || text[q] == '-')
            negativeExponent = text[q++] == '-';
        long long e = 0;
        if (q < text.size() && IsDigit(text[q])) {
            for (; q < text.size() && IsDigit(text[q]); ++q)
                e = std::min(e * 10 + (text[q] - '0'), 1000000LL);  // far beyond any wait
            exponent += negativeExponent ? -e : e;
        }
    }
    // digits x 10^exponent milliseconds: the whole part, then the first dropped digit rounds.
    const long long wholeDigits = static_cast<long long>(digits.size()) + exponent;
    if (wholeDigits > 10)
        return MsResult::OutOfRange;
    long long ms = 0;
    for (long long i = 0; i < wholeDigits; ++i)
        ms = ms * 10 + (i < static_cast<long long>(digits.size()) ? digits[size_t(i)] - '0' : 0);
    if (wholeDigits >= 0 && wholeDigits < static_cast<long long>(digits.size()) &&
        digits[size_t(wholeDigits)] >= '5')
        ++ms;
    if (ms > INT_MAX || (negative && ms > 0))
        return MsResult::OutOfRange;
    *out = static_cast<int>(ms);
    return MsResult::Ok;
}

}  // namespace

CommandWait::CommandWait(int ms) : CommandWait(Command()) { waitTimeMs = ms; }

CommandWait::CommandWait(const Command& record)
{
    typeName = "CommandWait";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::waitTimeMs, &Command::waitElapsedMs, &Command::mode,
               &Command::condition);
}

void CommandWait::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    std::string type = CommandText::Text(element, "Type");
    LogSingleton* log = LogSingleton::instance();
    if (type == "Conditional") {
        mode = 1;
        condition = CommandText::Text(element, "Condition");
        valid = true;
        log->add(Format("   Nr. %d: Wait conditional: %s", nr, condition.c_str()));
        return;
    }
    mode = 0;
    waitTimeMs = 0;
    if (type == "Time") {
        // A value that does not read as a number waits 0 ms.
        int ms = 0;
        if (SecondsToMs(CommandText::Text(element, "Seconds"), &ms) == MsResult::OutOfRange) {
            log->addError(Format("   Nr. %d: ERROR Wait time out of range: %s s", nr,
                                 CommandText::Text(element, "Seconds").c_str()));
            valid = false;
            return;
        }
        waitTimeMs = ms;
    }
    valid = true;
    log->add(Format("   Nr. %d: Wait %d ms", nr, waitTimeMs));
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
