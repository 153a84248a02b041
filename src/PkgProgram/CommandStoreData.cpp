#include "PkgProgram/CommandStoreData.h"

#include <tinyxml2.h>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandStoreData::CommandStoreData(const Command& record)
{
    typeName = "CommandStoreData";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::variableName, &Command::variableType, &Command::numberValue);
}

void CommandStoreData::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    std::string type = CommandText::Text(element, "Type");
    if (type != "number" && type != "position") {
        LogSingleton::instance()->addError("ERROR: could not read StoreData cmd, wrong type!");
        throw "in Read StoreData: wrong type";
    }
    variableType = type;
    variableName = ToLowerCase(CommandText::Text(element, "Name"));
    numberValue = CommandText::Float(element, "Value", 0.0f);
    valid = true;
    LogSingleton::instance()->add(
        Format("   Nr. %d: Store Variable: %s Type: %s Value: %lf", nr,
               variableName.c_str(), variableType.c_str(), numberValue));
}

int CommandStoreData::Interpolate(int, float, DataTypes::RobotState* state)
{
    MemoryPosition variable;
    variable.name = variableName;
    variable.type = variableType;
    if (variableType == "number")
        variable.value = numberValue;
    else
        variable.state = *state;  // the number of a position variable stays 0
    StoreVariableInProgramMemory(variable);
    return Next();
}

std::string CommandStoreData::ToString()
{
    return "Command Store " + variableName + LinksText();
}
