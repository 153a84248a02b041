#include "PkgProgram/CommandMathFunction.h"

#include <tinyxml2.h>

#include <cmath>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandMathFunction::CommandMathFunction(const Command& record)
{
    typeName = "CommandMathFunction";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::mathFunction, &Command::firstOperand, &Command::secondOperand);
}

void CommandMathFunction::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    mathFunction = ToLowerCase(CommandText::Text(element, "Function"));
    firstOperand = ToLowerCase(CommandText::Text(element, "FirstOperand"));
    secondOperand = ToLowerCase(CommandText::Text(element, "SecondOperand"));
    valid = true;
    LogSingleton::instance()->add(
        Format("   Nr. %d: Math %s FirstOp: %s SecondOp: %s", nr,
               mathFunction.c_str(), firstOperand.c_str(), secondOperand.c_str()));
}

float CommandMathFunction::ReadOperand(const std::string& operand, DataTypes::RobotState* state)
{
    size_t dot = operand.find('.');
    if (dot != std::string::npos)
        return GetVariablePositionElement(operand.substr(0, dot), operand.substr(dot + 1), state);
    return GetVariableNumberValue(operand, state);
}

int CommandMathFunction::Interpolate(int, float, DataTypes::RobotState* state)
{
    float second = 0.0f;
    switch (CommandText::ParseFloatPrefix(secondOperand, &second)) {
    case CommandText::NumberResult::Ok:
        break;
    case CommandText::NumberResult::OutOfRange:
        LogSingleton::instance()->add(
            Format("Math: number out of range: %s", secondOperand.c_str()));
        throw "MathOperator: number out of range!";
    case CommandText::NumberResult::NoNumber:
        second = ReadOperand(secondOperand, state);
        break;
    }
    float first = ReadOperand(firstOperand, state);

    float result = 0.0f;
    if (mathFunction == "add")
        result = first + second;
    else if (mathFunction == "subtract")
        result = first - second;
    else if (mathFunction == "set")
        result = second;
    else
        throw "Unknown operation in MathOperator!";
    if (!std::isfinite(result)) {
        LogSingleton::instance()->add(Format(
            "Math: result of %s %s %s out of range", mathFunction.c_str(), firstOperand.c_str(),
            secondOperand.c_str()));
        throw "MathOperator: result out of range!";
    }

    size_t dot = firstOperand.find('.');
    if (dot != std::string::npos)
        SetVariablePositionElement(firstOperand.substr(0, dot), firstOperand.substr(dot + 1),
                                   result, state);
    else
        SetVariableNumberValue(firstOperand, result, state);
    return Next();
}

std::string CommandMathFunction::ToString()
{
    return Format("Command Math %s FirstOp: %s SecondOp: %s", mathFunction.c_str(),
                  firstOperand.c_str(), secondOperand.c_str()) +
           LinksText();
}
