#pragma once

#include <string>

// The gripper: a target opening in percent that the commanded opening
// follows by one motion velocity per robot cycle, mapped linearly onto the
// hardware position sent to the gripper joint.
class Tool {
public:
    Tool() = default;
    virtual ~Tool() = default;

    // Sets the defaults and reads base directory + "Data/Tools/" + name.
    // Throws ConfigError(46, ...) for a missing or unreadable tool file.
    void Init(std::string name);
    void ReadConfigFile(std::string path);

    void SetTargetValue(float value);
    void JogGripper(float delta);
    void Update();
    void SetHWPosition(float position);

    float GetJoint() const { return currentValue; }
    float GetHWPosition() const { return hwPosition; }
    float GetTargetValue() const { return targetValue; }
    int GetBusID() const { return busID; }
    float GetGearScale() const { return gearScale; }
    float GetGearZero() const { return gearZero; }
    float GetMotionVel() const { return motionVel; }
    float GetMotionMin() const { return motionMin; }
    float GetMotionMax() const { return motionMax; }

private:
    static float Limit(float value);

    int reserved = 0;
    int busID = 112;
    float gearScale = -10.0f;
    float gearZero = 210.0f;
    float targetValue = 30.0f;
    float currentValue = 0.0f;
    float motionVel = 3.0f;
    float motionMin = 0.0f;
    float motionMax = 70.0f;
    float hwPosition = 0.0f;
    float scale = 0.7f;
};
