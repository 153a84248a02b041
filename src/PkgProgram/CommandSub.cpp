#include "PkgProgram/CommandSub.h"

#include <tinyxml2.h>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandSub::CommandSub(const Command& record)
{
    typeName = "CommandSub";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::subFile, &Command::subProgram);
}

void CommandSub::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    subFile = CommandText::Text(element, "File");
    valid = true;
    LogSingleton::instance()->add(
        Format("   Nr. %d: Sub file %s", nr, subFile.c_str()));
}

int CommandSub::Interpolate(int, float, DataTypes::RobotState*)
{
    LogSingleton::instance()->add(
        Format("Sub: program nr %d: %s", subProgram, subFile.c_str()));
    return ResultSubProgramBase - subProgram;
}

std::string CommandSub::ToString()
{
    return "Command Sub " + subFile + LinksText();
}
