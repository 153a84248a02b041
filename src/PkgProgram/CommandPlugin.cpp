#include "PkgProgram/CommandPlugin.h"

#include <tinyxml2.h>

#include "LogSingleton.h"
#include "PkgProgram/CommandText.h"

CommandPlugin::CommandPlugin() { typeName = "CommandPlugin"; }

CommandPlugin::CommandPlugin(const Command& record) : CommandPlugin()
{
    CopyCommonFrom(record);
    pluginName = record.pluginName;
    targetPosVariable = record.targetPosVariable;
    modelClassVariable = record.modelClassVariable;
    pluginManager = record.pluginManager;
}

void CommandPlugin::ReadXML(tinyxml2::XMLElement* element, bool)
{
    pluginName = ToLowerCase(CommandText::Text(element, "PluginName"));
    targetPosVariable = ToLowerCase(CommandText::Text(element, "VarTargetPos"));
    modelClassVariable = ToLowerCase(CommandText::Text(element, "VarModelClass"));
    valid = true;
    LogSingleton::instance()->add(
        CommandText::Format("Command Plugin %s PosVariable: %s ClassVariable: %s",
                            pluginName.c_str(), targetPosVariable.c_str(),
                            modelClassVariable.c_str()));
}

int CommandPlugin::Interpolate(int, float, DataTypes::RobotState*)
{
    // The plug-in exchange arrives with the plug-in manager; until then a program that
    // asks for a camera target stops with a clear text instead of waiting for ever.
    LogSingleton::instance()->addError(
        CommandText::Format("Plugin: plug-in %s not available", pluginName.c_str()));
    throw "CommandPlugin: plug-ins not available";
}

std::string CommandPlugin::ToString()
{
    return CommandText::Format(
        "Command Plugin %s PosVariable: %s ClassVariable: %s - Pre: %d - Succ: %d %d %d",
        pluginName.c_str(), targetPosVariable.c_str(), modelClassVariable.c_str(), predecessor,
        successor[0], successor[1], successor[2]);
}
