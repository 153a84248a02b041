#pragma once

#include "PkgProgram/Command.h"

// The synchronised joint step shared by joint motions and relative joint motions: every
// joint moves in proportion to its normalised distance, so all arrive together, and the
// leading joint runs at velocityPercent of its maximum, scaled by the override.
class CommandJointStep {
public:
    // One step of dtMs towards command.targetState's joints. Returns -1 while the target
    // is ahead; on arrival copies the targets into state, sets command.firstCall and
    // returns successor slot 0.
    int Step(Command& command, int dtMs, float overridePercent, DataTypes::RobotState* state);

    // Working values of the last step.
    float normalisedDistance[Command::MaxJoints] = {};
    float step = 0.0f;
    float leadingDistance = 0.0f;
    float finishThreshold = 0.001f;
};
