#include "PkgProgram/CommandGripper.h"

#include <tinyxml2.h>

#include <algorithm>

#include "LogSingleton.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandGripper::CommandGripper(float position) : CommandGripper(Command())
{
    gripperValues[0] = position;
}

CommandGripper::CommandGripper(const Command& record)
{
    typeName = "CommandGripper";
    CopyCommonFrom(record);
    std::copy(record.gripperValues, record.gripperValues + GripperValues, gripperValues);
}

void CommandGripper::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    float position = CommandText::Float(element, "Position", 0.0f);
    gripperValues[0] = std::clamp(position, 0.0f, 100.0f);
    valid = true;
    LogSingleton::instance()->add(
        Format("   Nr. %d: Gripper Position %.1lf", nr, gripperValues[0]));
}

void CommandGripper::WriteXML(std::ofstream* out, int nr)
{
    if (!out)
        return;
    *out << Format("<Gripper Nr=\"%d\" Position=\"%0.1f\" Descr=\"\" />", nr,
                   gripperValues[0])
         << "\n";
}

int CommandGripper::Interpolate(int, float, DataTypes::RobotState* state)
{
    std::copy(gripperValues, gripperValues + GripperValues, state->gripperSetPoint);
    return Next();
}
