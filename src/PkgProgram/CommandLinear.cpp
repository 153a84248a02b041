#include "PkgProgram/CommandLinear.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "LogSingleton.h"
#include "PkgProgram/CommandFields.h"
#include "PkgProgram/CommandText.h"
#include "PkgProgram/VariableType.h"
#include "TextFormat.h"

namespace {

DataTypes::Vector3 Translation(const DataTypes::Matrix44& m)
{
    return DataTypes::Vector3(m(0, 3), m(1, 3), m(2, 3));
}

// Unit rotation axis of r for the angle (degrees) found by GetAxisAngle. Near 180 degrees
// the sine in GetAxisAngle's divisor vanishes and its axis is unusable; the axis then
// comes from the symmetric part, R + I = 2·k·kᵀ.
DataTypes::Vector3 UsableAxis(const DataTypes::Matrix44& r, DataTypes::Vector3 axis, float angle)
{
    float length = axis.Length();
    if (std::isfinite(length) && std::fabs(length - 1.0f) < 1e-3f)
        return axis;
    if (angle < 90.0f) {
        // Small angles give a well-conditioned axis; only rounding is off.
        if (std::isfinite(length) && length > 1e-6f)
            return DataTypes::Vector3(axis.x / length, axis.y / length, axis.z / length);
        return DataTypes::Vector3(0.0f, 0.0f, 1.0f);
    }
    double diag[3] = {r(0, 0), r(1, 1), r(2, 2)};
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (diag[i] > diag[k])
            k = i;
    double kk = std::sqrt(std::max(0.0, (diag[k] + 1.0) / 2.0));
    if (kk < 1e-6)
        return DataTypes::Vector3(0.0f, 0.0f, 1.0f);
    double v[3];
    for (int i = 0; i < 3; ++i)
        v[i] = (i == k) ? kk : (r(i, k) + r(k, i)) / (4.0 * kk);
    // Orient the axis like the (tiny) antisymmetric part so that the sense of turning holds.
    double anti[3] = {r(2, 1) - r(1, 2), r(0, 2) - r(2, 0), r(1, 0) - r(0, 1)};
    if (v[0] * anti[0] + v[1] * anti[1] + v[2] * anti[2] < 0.0)
        for (double& c : v)
            c = -c;
    double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return DataTypes::Vector3(static_cast<float>(v[0] / n), static_cast<float>(v[1] / n),
                              static_cast<float>(v[2] / n));
}

}  // namespace

CommandLinear::CommandLinear()
{
    typeName = "CommandLinear";
    motionType = 1;
    cartVelocity = 10.0f;
    rotVelocity = 90.0f;
    source = "numerical";
}

CommandLinear::CommandLinear(const Command& record) : CommandLinear()
{
    CopyCommonFrom(record);
    CopyFields(*this, record, &Command::targetState, &Command::lastOverride, &Command::cartVelocity,
               &Command::rotVelocity, &Command::accPercent, &Command::smoothPercent, &Command::condition,
               &Command::source, &Command::variableName);
}

void CommandLinear::ReadXML(tinyxml2::XMLElement* element, bool)
{
    int nr = CommandText::Nr(element);
    source = ToLowerCase(CommandText::Text(element, "Source", "numerical"));
    cartVelocity = CommandText::Float(element, "vel", 0.0f);
    accPercent = CommandText::Float(element, "acc", 0.0f);
    smoothPercent = CommandText::Float(element, "smooth", 0.0f);
    condition = CommandText::Text(element, "AbortCondition");

    if (source == "numerical") {
        // Moving to an invented coordinate is worse than not loading the command.
        static const char* const names[6] = {"x", "y", "z", "a", "b", "c"};
        float v[6] = {};
        for (int i = 0; i < 6; ++i) {
            if (!CommandText::QueryFloat(element, names[i], &v[i])) {
                LogSingleton::instance()->addError(Format(
                    "   Nr. %d: ERROR Linear: attribute \"%s\" missing or not a number, command "
                    "not added",
                    nr, names[i]));
                valid = false;
                return;
            }
        }
        targetState.posCartRobot.ABCToMatrix(v[3], v[4], v[5]);
        targetState.posCartRobot.SetTranslation(v[0], v[1], v[2]);
        targetState.posCartRobot(3, 3) = 1.0f;
        targetState.posA = v[3];
        targetState.posB = v[4];
        targetState.posC = v[5];
        static const char* const external[3] = {"e1", "e2", "e3"};
        for (int i = 0; i < 3; ++i) {
            float value = CommandText::Float(element, external[i], 0.0f);
            targetState.jointSetPoint[6 + i] = value;
        }
        valid = true;
        LogSingleton::instance()->add(Format(
            "   Nr. %d: Linear %.1lf %.1lf %.1lf -- %.1lf %.1lf %.1lf   with %.1lf mm/s acc "
            "%.1lf%%, smooth %.1lf%%, abortcond %s",
            nr, v[0], v[1], v[2], v[3], v[4], v[5], cartVelocity, accPercent, smoothPercent,
            condition.c_str()));
    } else if (source == "variable") {
        variableName = ToLowerCase(CommandText::Text(element, "VariableName"));
        valid = true;
        LogSingleton::instance()->add(Format(
            "   Nr. %d: Linear by Variable %s  with %.1lf mm/s acc %.1lf%%, smooth %.1lf%%, "
            "abortcond %s",
            nr, variableName.c_str(), cartVelocity, accPercent, smoothPercent,
            condition.c_str()));
    } else {
        LogSingleton::instance()->addError("ERROR: could not read Linear cmd, wrong source type!");
        throw "in Read Linear: wrong source";
    }
}

void CommandLinear::WriteXML(std::ofstream* out, int nr)
{
    if (!out)
        return;
    std::cout << "****************** Writing Linear motion*********************" << std::endl;
    const DataTypes::Matrix44& pose = targetState.posCartRobot;
    const float* j = targetState.jointSetPoint;
    *out << Format(
                "<Linear Nr=\"%d\" x=\"%0.1f\" y=\"%0.1f\" z=\"%0.1f\" a=\"%0.3f\" b=\"%0.3f\" "
                "c=\"%0.3f\" e1=\"%0.3f\" e2=\"%0.3f\" e3=\"%0.3f\" vel=\"%0.1f\" acc=\"40\" "
                "smooth=\"true\" Descr=\"\" />",
                nr, pose(0, 3), pose(1, 3), pose(2, 3), targetState.posA, targetState.posB,
                targetState.posC, j[6], j[7], j[8], cartVelocity)
         << "\n";
}

void CommandLinear::ComputeStepSizes(int dtMs, float overridePercent,
                                     const DataTypes::RobotState& state)
{
    DataTypes::Matrix44 relative;
    try {
        relative = DataTypes::Matrix44::inverse(state.posCartRobot) * targetState.posCartRobot;
    } catch (const std::string&) {
        throw "CommandLinear: current pose cannot be inverted";
    }
    float angle = 0.0f;
    DataTypes::Vector3 axis;
    relative.GetAxisAngle(&axis, &angle);
    rotationAxis = UsableAxis(relative, axis, angle);
    remainingAngle = angle;

    DataTypes::Vector3 current = Translation(state.posCartRobot);
    DataTypes::Vector3 target = Translation(targetState.posCartRobot);
    DataTypes::Vector3 diff(target.x - current.x, target.y - current.y, target.z - current.z);
    float dist = diff.Length();

    // Durations of translation and rotation at full speed. A zero distance takes no time
    // whatever the speed (no 0/0); a distance at zero speed takes for ever.
    const float forever = std::numeric_limits<float>::infinity();
    float tT = dist > 0.0f ? (cartVelocity > 0.0f ? dist / cartVelocity : forever) : 0.0f;
    float tR = angle > 0.0f ? (rotVelocity > 0.0f ? angle / rotVelocity : forever) : 0.0f;
    float dt = static_cast<float>(dtMs) / 1000.0f;
    if (tT <= tR) {
        rotationStep = std::max(0.0f, rotVelocity * dt);
        translationStep = (angle > 0.0f && rotationStep > 0.0f) ? dist / (angle / rotationStep)
                                                                : 0.0f;
    } else {
        translationStep = std::max(0.0f, cartVelocity * dt);
        rotationStep = (dist > 0.0f && translationStep > 0.0f)
                           ? angle / (dist / translationStep)
                           : 0.0f;
    }
    // A negative override would move away from the target for ever.
    float factor = std::max(0.0f, overridePercent / 100.0f);
    translationStep *= factor;
    rotationStep *= factor;
}

int CommandLinear::Interpolate(int dtMs, float overridePercent, DataTypes::RobotState* state)
{
    if (firstCall && source == "variable") {
        MemoryPosition variable;
        GetVariableFromProgramMemory(variableName, &variable, state);
        RequireVariableType(variable, variableName, "position");
        targetState.posCartRobot = variable.state.posCartRobot;
        targetState.posA = variable.state.posA;
        targetState.posB = variable.state.posB;
        targetState.posC = variable.state.posC;
        for (int i = 6; i < MaxJoints; ++i)
            targetState.jointSetPoint[i] = variable.state.jointSetPoint[i];
    }
    if (firstCall || overridePercent != lastOverride) {
        ComputeStepSizes(dtMs, overridePercent, *state);
        firstCall = false;
        lastOverride = overridePercent;
    }

    DataTypes::Vector3 current = Translation(state->posCartRobot);
    DataTypes::Vector3 target = Translation(targetState.posCartRobot);
    DataTypes::Vector3 diff(target.x - current.x, target.y - current.y, target.z - current.z);
    float dist = diff.Length();
    if (dist > 0.1f || remainingAngle > 0.05f) {
        if (dist > 0.0f) {
            float move = std::min(translationStep, dist) / dist;
            state->posCartRobot(0, 3) = current.x + diff.x * move;
            state->posCartRobot(1, 3) = current.y + diff.y * move;
            state->posCartRobot(2, 3) = current.z + diff.z * move;
        }
        float turn = std::min(remainingAngle, rotationStep);
        state->posCartRobot.RotateAxisAngle(rotationAxis, turn);
        remainingAngle -= turn;
        return ResultAgain;
    }
    firstCall = true;
    return Next();
}
