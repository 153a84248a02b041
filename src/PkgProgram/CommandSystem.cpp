#include "PkgProgram/CommandSystem.h"

#include "LogSingleton.h"
#include "TextFormat.h"

CommandSystem::CommandSystem(const Command& record)
{
    typeName = "CommandSystem";
    CopyCommonFrom(record);
}

void CommandSystem::ReadXML(tinyxml2::XMLElement*, bool) { valid = true; }

int CommandSystem::Interpolate(int, float, DataTypes::RobotState*)
{
    LogSingleton::instance()->add("System");
    return Next();
}

std::string CommandSystem::ToString()
{
    return "CommandSystem" + LinksText();
}
