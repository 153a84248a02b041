#include "PkgProgram/CommandRelative.h"

#include <tinyxml2.h>

#include <algorithm>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "TextFormat.h"

CommandRelative::CommandRelative()
{
    typeName = "CommandRelative";
    relativeMode = 1;
    motionType = 1;
}

CommandRelative::CommandRelative(const Command& record) : CommandRelative()
{
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::deltaState, &Command::targetState, &Command::relativeMode,
               &Command::lastOverride, &Command::velocityPercent, &Command::cartVelocity,
               &Command::accPercent, &Command::smoothPercent, &Command::condition);
    motionType = relativeMode == 0 ? 0 : 1;
}

void CommandRelative::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    const char* moType = element ? element->Attribute("MoType") : nullptr;
    if (!moType) {
        LogSingleton::instance()->addError(
            "Command Relative: Attribute \"MoType\" not found! Cannot read command!");
        valid = false;
        return;
    }
    std::string type = moType;
    accPercent = CommandText::Float(element, "acc", 50.0f);
    smoothPercent = CommandText::Float(element, "smooth", 20.0f);
    condition = CommandText::Text(element, "AbortCondition", "false");
    LogSingleton* log = LogSingleton::instance();

    // Missing deltas are 0: a relative move without them stays put on that axis.
    if (type == "Joint") {
        relativeMode = 0;
        motionType = 0;
        static const char* const names[6] = {"a1", "a2", "a3", "a4", "a5", "a6"};
        for (int i = 0; i < 6; ++i) {
            float value = CommandText::Float(element, names[i], 0.0f);
            deltaState.jointSetPoint[i] = value;
        }
        velocityPercent = CommandText::Float(element, "velPercent", 0.0f);
        const float* d = deltaState.jointSetPoint;
        log->add(Format(
            "   Nr. %d: Relative Joint %.1lf %.1lf %.1lf %.1lf %.1lf %.1lf with vel %.1lf%%, acc "
            "%.1lf%%, smooth %.1lf%%, abortcond %s",
            nr, d[0], d[1], d[2], d[3], d[4], d[5], velocityPercent, accPercent, smoothPercent,
            condition.c_str()));
    } else {
        relativeMode = type == "CartBase" ? 1 : 2;
        motionType = 1;
        float v[3] = {};
        CommandText::QueryFloat(element, "x", &v[0]);
        CommandText::QueryFloat(element, "y", &v[1]);
        CommandText::QueryFloat(element, "z", &v[2]);
        deltaState.posCartRobot.SetTranslation(v[0], v[1], v[2]);
        deltaState.posA = 0.0f;
        deltaState.posB = 0.0f;
        deltaState.posC = 0.0f;
        cartVelocity = CommandText::Float(element, "vel", 0.0f);
        log->add(Format(
            relativeMode == 1
                ? "   Nr. %d: Relative CartBase %.1lf %.1lf %.1lf with %.1lf mm/s, acc %.1lf%%, "
                  "smooth %.1lf%%, abortcond %s"
                : "   Nr. %d: Relative CartTool %.1lf %.1lf %.1lf with %.1lf mm/s, acc %.1lf%%, "
                  "smooth %.1lf%%, abortcond %s",
            nr, v[0], v[1], v[2], cartVelocity, accPercent, smoothPercent, condition.c_str()));
    }
    valid = true;
}

int CommandRelative::Interpolate(int dtMs, float overridePercent, DataTypes::RobotState* state)
{
    if (relativeMode == 0)
        return InterpolateJoint(dtMs, overridePercent, state);
    return InterpolateLinear(dtMs, overridePercent, state);
}

int CommandRelative::InterpolateJoint(int dtMs, float overridePercent,
                                      DataTypes::RobotState* state)
{
    if (firstCall) {
        targetState = *state;
        for (int i = 0; i < MaxJoints; ++i)
            targetState.jointSetPoint[i] += deltaState.jointSetPoint[i];
        firstCall = false;
        lastOverride = overridePercent;
    }
    return stepper.Step(*this, dtMs, overridePercent, state);
}

int CommandRelative::InterpolateLinear(int dtMs, float overridePercent,
                                       DataTypes::RobotState* state)
{
    DataTypes::Matrix44& pose = state->posCartRobot;
    if (firstCall) {
        targetState = *state;
        DataTypes::Vector3 delta(deltaState.posCartRobot(0, 3), deltaState.posCartRobot(1, 3),
                                 deltaState.posCartRobot(2, 3));
        if (relativeMode == 2) {
            // The delta is given in the tool frame: turn it by the current orientation.
            DataTypes::Matrix44 rotation = pose;
            rotation.SetTranslation(0.0f, 0.0f, 0.0f);
            delta = rotation * delta;
        }
        targetState.posCartRobot.SetTranslation(pose(0, 3) + delta.x, pose(1, 3) + delta.y,
                                                pose(2, 3) + delta.z);
        firstCall = false;
        lastOverride = overridePercent;
    }

    DataTypes::Matrix44& target = targetState.posCartRobot;
    DataTypes::Vector3 diff(target(0, 3) - pose(0, 3), target(1, 3) - pose(1, 3),
                            target(2, 3) - pose(2, 3));
    float dist = diff.Length();
    if (dist <= 0.5f) {
        pose.SetTranslation(target(0, 3), target(1, 3), target(2, 3));
        // Ready for the next run of this object, like the other motions.
        firstCall = true;
        return Next();
    }
    // A negative speed or override would move away from the target for ever.
    float length = std::max(0.0f, cartVelocity * (overridePercent / 100.0f) *
                                      (static_cast<float>(dtMs) / 1000.0f));
    if (length > dist)
        length = dist;
    pose.SetTranslation(pose(0, 3) + diff.x / dist * length, pose(1, 3) + diff.y / dist * length,
                        pose(2, 3) + diff.z / dist * length);
    return ResultAgain;
}
