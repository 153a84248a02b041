#include "PkgProgram/JointSet.h"

JointSet::JointSet() = default;

JointSet::JointSet(int) {}

JointSet::JointSet(int, const float* positions, long, long, int cmdIndex, int succIndex,
                   const float* accLimits)
    : commandIndex(cmdIndex), successorIndex(succIndex) {
    for (int i = 0; i < kMaxJoints; ++i) {
        position[i] = positions ? positions[i] : 0.0f;
        accLimit[i] = accLimits ? accLimits[i] : 0.0f;
    }
}
