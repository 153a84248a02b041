#include "PkgProgram/CommandPlugin.h"

#include <tinyxml2.h>

#include <algorithm>

#include "LogSingleton.h"
#include "PkgPluginManager/PluginManager.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "PkgProgram/VariableType.h"
#include "TextFormat.h"

CommandPlugin::CommandPlugin(const Command& record)
{
    typeName = "CommandPlugin";
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::pluginName, &Command::targetPosVariable,
               &Command::modelClassVariable, &Command::pluginManager);
}

void CommandPlugin::ReadXML(tinyxml2::XMLElement* element, bool)
{
    pluginName = ToLowerCase(CommandText::Text(element, "PluginName"));
    targetPosVariable = ToLowerCase(CommandText::Text(element, "VarTargetPos"));
    modelClassVariable = ToLowerCase(CommandText::Text(element, "VarModelClass"));
    valid = true;
    LogSingleton::instance()->add(
        Format("Command Plugin %s PosVariable: %s ClassVariable: %s",
               pluginName.c_str(), targetPosVariable.c_str(),
               modelClassVariable.c_str()));
}

int CommandPlugin::Interpolate(int, float, DataTypes::RobotState* state)
{
    MemoryPosition target;
    GetVariableFromProgramMemory(targetPosVariable, &target, state);
    MemoryPosition modelClassVar;
    GetVariableFromProgramMemory(modelClassVariable, &modelClassVar, state);
    // A number variable has no pose to receive the target.
    RequireVariableType(target, targetPosVariable, "position");
    if (!pluginManager) {
        LogSingleton::instance()->addError(
            Format("Plugin: plug-in %s not available", pluginName.c_str()));
        throw "CommandPlugin: plug-ins not available";
    }

    float pose[16];
    std::copy(target.state.posCartRobot.m, target.state.posCartRobot.m + 16, pose);
    float angles[3] = {target.state.posA, target.state.posB, target.state.posC};
    int modelClass = -1;
    int result = pluginManager->ExecutePluginCmdTarget(pluginName, &modelClass,
                                                       state->jointSetPoint, pose, angles,
                                                       state->digitalIn, state->digitalOut);

    // Written back whatever the result: without a target these are the values passed in.
    DataTypes::Matrix44& targetPose = target.state.posCartRobot;
    targetPose.SetTranslation(pose[3], pose[7], pose[11]);
    targetPose.ABCToMatrix(angles[0], angles[1], angles[2]);
    target.state.posA = angles[0];
    target.state.posB = angles[1];
    target.state.posC = angles[2];
    StoreVariableInProgramMemory(target);
    modelClassVar.value = static_cast<float>(modelClass);
    StoreVariableInProgramMemory(modelClassVar);

    if (result == 1) {
        LogSingleton::instance()->add(Format(
            "Plugin: X=%.1lf Y=%.1lf Z=%.1lf -- A=%.1lf B=%.1lf C=%.1lf  - ModelClass=%d", pose[3],
            pose[7], pose[11], angles[0], angles[1], angles[2], modelClass));
        return Next();
    }
    return ResultAgain;
}

std::string CommandPlugin::ToString()
{
    return Format("Command Plugin %s PosVariable: %s ClassVariable: %s", pluginName.c_str(),
                  targetPosVariable.c_str(), modelClassVariable.c_str()) +
           LinksText();
}
