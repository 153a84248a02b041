#include "PkgProgram/CommandJoint.h"

#include <tinyxml2.h>

#include <algorithm>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandJoint::CommandJoint(const Command& record)
{
    typeName = "CommandJoint";
    motionType = 0;
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::targetState, &Command::lastOverride, &Command::velocityPercent,
               &Command::accPercent, &Command::smoothPercent, &Command::condition);
}

void CommandJoint::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    static const char* const names[MaxJoints] = {"a1", "a2", "a3", "a4", "a5",
                                                 "a6", "e1", "e2", "e3"};
    for (int i = 0; i < MaxJoints; ++i) {
        float value = CommandText::Float(element, names[i], 0.0f);
        targetState.jointSetPoint[i] = value;
    }
    velocityPercent = CommandText::Float(element, "velPercent", 0.0f);
    accPercent = CommandText::Float(element, "acc", 50.0f);
    smoothPercent = CommandText::Float(element, "smooth", 20.0f);
    condition = CommandText::Text(element, "AbortCondition", "false");
    valid = true;

    const float* j = targetState.jointSetPoint;
    LogSingleton::instance()->add(Format(
        "   Nr. %d: Joint %.1lf %.1lf %.1lf %.1lf %.1lf %.1lf with vel %.1lf%%, acc %.1lf%%, "
        "smooth %.1lf%%, abortcond %s",
        nr, j[0], j[1], j[2], j[3], j[4], j[5], velocityPercent, accPercent, smoothPercent,
        condition.c_str()));
}

void CommandJoint::WriteXML(std::ofstream* out, int nr)
{
    if (!out)
        return;
    const float* j = targetState.jointSetPoint;
    *out << Format(
                "<Joint Nr=\"%d\" a1=\"%0.3f\" a2=\"%0.3f\" a3=\"%0.3f\" a4=\"%0.3f\" "
                "a5=\"%0.3f\" a6=\"%0.3f\" e1=\"%0.3f\" e2=\"%0.3f\" e3=\"%0.3f\" "
                "velPercent=\"%0.1f\" acc=\"40\" smooth=\"true\" Descr=\"\" />",
                nr, j[0], j[1], j[2], j[3], j[4], j[5], j[6], j[7], j[8], velocityPercent)
         << "\n";
}

int CommandJoint::Interpolate(int dtMs, float overridePercent, DataTypes::RobotState* state)
{
    if (firstCall || overridePercent != lastOverride) {
        lastOverride = overridePercent;
        firstCall = false;
    }
    return stepper.Step(*this, dtMs, overridePercent, state);
}

std::string CommandJoint::ToString()
{
    return "Command Joint " + LinksText();
}
