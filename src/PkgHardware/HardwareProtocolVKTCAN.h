#pragma once

#include <string>

#include "PkgHardware/HardwareProtocol.h"

// First-generation joint protocol ("VKTCAN"): arm joints only, a 6-byte
// position frame with a 16-bit position and a shorter answer. No gripper,
// platform, I/O modules, alignment, referencing or temperatures.
class HardwareProtocolVKTCAN : public HardwareProtocol {
public:
    HardwareProtocolVKTCAN();
    ~HardwareProtocolVKTCAN() override;

    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    void Connect() override;
    bool GetConnectionStatus() override;
    using HardwareProtocol::GetError;
    void GetError(std::string* text, std::string* shortText) override;
    void ResetError() override;
    void EnableMotors(bool on) override;
    bool GetMotorEnabled() override;
    void SetJoints(const DataTypes::RobotState& state) override;
    void GetJoints(DataTypes::RobotState* state) override;
    void SetToZeroPos(int joint) override;
    void SetIO(int module, int bit, bool on) override;

    // Short codes "BOWD", "MNE", ...
    void DecodeErrorCode(int code, std::string* text, std::string* shortText) override;
    // Reads the bus and joint elements of the robot configuration file; throws ConfigError.
    void ReadConfigFile(const std::string& path);

    int outputBits[maxModules] = {0};  // byte 5 of each joint's frame, bits 0-3 (SetIO)
    int messageCounter = 0;            // 0 ... 99, advanced once per position frame
    int gapMS = 3;                     // pause after each position frame

protected:
    int ErrorModuleCount() const override;

private:
    bool setIOLogged = false;
    bool invalidSetPointLogged = false;
    int lastCounts[maxModules] = {0};
    long answerSequence[maxModules] = {0};  // answers seen per joint
};
