#pragma once

// Per-joint acceleration limits of the path planner: the maximum of each joint
// scaled by the acceleration percentage of the command being planned.
class AccHandler {
public:
    static constexpr int kMaxJoints = 9;

    AccHandler(float maxAcc, float param);
    virtual ~AccHandler() = default;

    // acc[i] = accMax[i] * percent / 100 for all joints; returns acc.
    float* RequestAcc();
    void ResetAcc();
    // Negative or non-numeric percentages mean "no acceleration allowed" (0).
    void SetPercent(float p);

    float acc[kMaxJoints] = {};
    float percent = 100.0f;
    float accMax[kMaxJoints] = {};
    float param = 0.0f;
};
