#pragma once

#include <cstdint>

// One 10 ms sample of a planned path in joint space.
class JointSet {
public:
    static constexpr int kMaxJoints = 9;

    // jointCount is always the array length, whatever the argument says.
    JointSet();
    explicit JointSet(int n);
    JointSet(int n, const float* positions, long, long, int commandIndex, int successorIndex,
             const float* accLimits);
    JointSet(const JointSet&) = default;
    JointSet& operator=(const JointSet&) = default;
    virtual ~JointSet() = default;

    int32_t jointCount = kMaxJoints;
    float position[kMaxJoints] = {};
    float velocity[kMaxJoints] = {};      // units per second
    float acceleration[kMaxJoints] = {};  // units per second squared
    float accLimit[kMaxJoints] = {};      // limit in force when the sample was made
    float maxAcc = -1.0f;                 // signed acceleration of largest magnitude
    int32_t maxAccJoint = -1;
    int32_t reserved0 = 0;
    int32_t reserved1 = 0;
    int32_t commandIndex = 0;    // program index of the command the sample belongs to
    int32_t successorIndex = 0;  // successor slot 0 of that command
};
