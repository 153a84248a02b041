#pragma once

#include <string>

#include "PkgHardware/HardwareProtocol.h"

// Second-generation joint protocol ("VKTCANV2"): arm joints, gripper joint,
// platform wheels and digital I/O modules. One 8-byte position frame per
// joint module and one output frame per I/O module each cycle; the newest
// answers are decoded from the bus adapter's table.
class HardwareProtocolVKTCANV2 : public HardwareProtocol {
public:
    HardwareProtocolVKTCANV2();
    ~HardwareProtocolVKTCANV2() override;

    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    void InitDIOModules(int busId) override;
    void InitTool(int count, int busId, float gearScale, float gearZero) override;
    void InitPlatform(int count) override;
    void Connect() override;
    bool GetConnectionStatus() override;
    using HardwareProtocol::GetError;
    void GetError(std::string* text, std::string* shortText) override;
    void GetCurrentValues(int* currents) override;
    void GetTempValues(float* temps) override;
    void GetReferenceStatus(bool* perJoint, int* all) override;
    void ResetError() override;
    void AlignMotors() override;
    void ReferenceSingleJoint(int joint) override;
    void EnableMotors(bool on) override;
    bool GetMotorEnabled() override;
    void SetJoints(const DataTypes::RobotState& state) override;
    void GetJoints(DataTypes::RobotState* state) override;
    void SetToZeroPos(int joint) override;
    void SetPlatformJointsToZeroPos() override;
    void SetIO(int module, int bit, bool on) override;
    void SetRailIO(int module, int bit, bool on) override;
    void GetDigitalIO(int module, int* inputs) override;
    void GetDigitalIORail(bool* inputs) override;

    // Texts " - emergency stop - ...", short codes "ESTOP_MNE".
    void DecodeErrorCode(int code, std::string* text, std::string* shortText) override;
    // Reads the bus and joint elements of the robot configuration file; throws ConfigError.
    void ReadConfigFile(const std::string& path);

    // Protocol-specific state.
    int outputBits[maxModules] = {0};       // byte 7 of each module's frame (SetIO)
    int dioOutputBits[maxDIOModules] = {0}; // output byte of each I/O module (SetRailIO)
    int dioModuleIndex[maxDIOModules] = {-1, -1, -1}; // table index of each I/O module
    int messageCounter = 0;                 // 0 ... 254, byte 6 of every cyclic frame
    int gapMS = 3;                          // pause after each cyclic frame
    int lastCounts[maxModules] = {0};       // encoder counts last sent
    int silentCycles = 0;                   // consecutive cycles without any valid answer
    int cycleCounter = 0;                   // drives the 10- and 101-cycle tasks
    int shutdownCountdown = 0;              // cycles left to complete the shutdown request

    static constexpr int statusLedId = 1;
    static constexpr int supplyId = 6;
    static constexpr int shutdownId = 0xFF;
    static constexpr int lateAge = 1000;    // 100 ms in units of 100 us
    static constexpr int deadAge = 49999;   // 5 s
    static constexpr int silentLimit = 100;

protected:
    int ErrorModuleCount() const override;
    void SendStatusLed(int red, int green, int blue);
    // Decodes the newest answer of a module; false when it is 5 s old or older.
    bool ReadAnswer(int index);
    void ReadTemperature(int index);
    void ReadSupply();
    void ReadShutdownMessage();
    // Logs an ignored call with out-of-range arguments, once per operation.
    void LogIgnoredOnce(bool* logged, const std::string& text);

    long lastShutdownSequence = 0;  // shutdown frames already acted upon
    long answerSequence[maxModules] = {0};  // answers seen per module
    bool freshAnswer = false;               // a new answer in this cycle
    bool setIOLogged = false;
    bool setRailIOLogged = false;
    bool getDigitalIOLogged = false;
    bool invalidSetPointLogged = false;
};
