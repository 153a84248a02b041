#include "PkgProgram/CommandJointStep.h"

#include <algorithm>
#include <cmath>

int CommandJointStep::Step(Command& command, int dtMs, float overridePercent,
                           DataTypes::RobotState* state)
{
    // Seconds of full-speed motion per call. A negative speed or override would drive the
    // joints away from the target for ever, so it counts as standing still.
    step = (command.velocityPercent / 100.0f) * static_cast<float>(dtMs) / 1000.0f *
           overridePercent / 100.0f;
    if (!(step > 0.0f))
        step = 0.0f;

    int leading = -1;
    leadingDistance = 0.0f;
    for (int i = 0; i < Command::MaxJoints; ++i) {
        // Maxima are kept positive by InitJointMaxVelocities; a record holding a bad one
        // leaves that joint to the final snap instead of producing NaN set-points.
        float maxVelocity = command.jointMaxVelocity[i];
        normalisedDistance[i] =
            maxVelocity > 0.0f
                ? (command.targetState.jointSetPoint[i] - state->jointSetPoint[i]) / maxVelocity
                : 0.0f;
        if (i < 6 && std::fabs(normalisedDistance[i]) > leadingDistance) {
            leadingDistance = std::fabs(normalisedDistance[i]);
            leading = i;
        }
    }
    finishThreshold = leading >= 0 ? 0.1f / command.jointMaxVelocity[leading] : 0.001f;

    if (leadingDistance < finishThreshold) {
        std::copy(command.targetState.jointSetPoint,
                  command.targetState.jointSetPoint + Command::MaxJoints, state->jointSetPoint);
        command.firstCall = true;
        return command.successor[0];
    }

    if (leadingDistance < step)
        step = leadingDistance;
    for (int i = 0; i < Command::MaxJoints; ++i) {
        float move = (normalisedDistance[i] / leadingDistance) * step * command.jointMaxVelocity[i];
        normalisedDistance[i] = move;
        state->jointSetPoint[i] += move;
    }
    return Command::ResultAgain;
}
