#include "PkgProgram/CommandDIO.h"

#include <tinyxml2.h>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandDIO::CommandDIO(const Command& record)
{
    typeName = "CommandDIO";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::dioChannel, &Command::dioState);
}

void CommandDIO::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    // The channel is written with a four-character prefix ("DOut12"), counted from 1.
    std::string channel = CommandText::Text(element, "Channel");
    long long number = 0;
    if (channel.size() < 4 ||
        CommandText::ParseIntPrefix(channel.substr(4), &number) != CommandText::NumberResult::Ok ||
        number < 1 || number > DataTypes::RobotState::maxIO) {
        LogSingleton::instance()->addError("Error: could not read Digital-Out command...");
        valid = false;
        return;
    }
    dioChannel = static_cast<int>(number) - 1;
    std::string state = CommandText::Text(element, "State");
    dioState = state == "True" || state == "true";
    valid = true;
    LogSingleton::instance()->add(Format("   Nr. %d: DOut channel %d state %d", nr,
                                         dioChannel, dioState ? 1 : 0));
}

int CommandDIO::Interpolate(int, float, DataTypes::RobotState* state)
{
    LogSingleton::instance()->add(
        Format("DIO: channel %d to %d", dioChannel, dioState ? 1 : 0));
    if (dioChannel < 0 || dioChannel >= DataTypes::RobotState::maxIO) {
        // An output the program cannot set is not silently skipped: the program stops.
        LogSingleton::instance()->addError(
            Format("DIO: channel %d out of range 0..%d", dioChannel,
                   DataTypes::RobotState::maxIO - 1));
        throw "CommandDIO: output channel out of range";
    }
    state->digitalOut[dioChannel] = dioState;
    return Next();
}

std::string CommandDIO::ToString()
{
    return Format("Command DIO %d to %d", dioChannel, dioState ? 1 : 0) + LinksText();
}
