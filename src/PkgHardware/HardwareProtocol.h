#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "PkgDataTypes/RobotState.h"
#include "PkgHardware/CANInterfacePHYTEC.h"

// The joint-bus protocol: the one object through which the robot talks to the
// motor controllers of the arm joints, the gripper joint, the platform wheels
// and the digital I/O modules. Created by ProtocolFactory from the `Protocol`
// name of the robot configuration file.
//
// Threads: every operation is called from the robot cycle thread, or, for the
// commands, from the thread running a robot operation while the cycle loop is
// paused. Fields read from other threads are atomic.
class HardwareProtocol {
public:
    static constexpr int maxModules = 16;
    static constexpr int maxArmJoints = 9;
    static constexpr int maxDIOModules = 3;
    static constexpr int platformJoints = 4;

    // One bus module; table order: arm joints, gripper joint, platform joints, I/O modules.
    struct Module {
        int kind = 0;                 // 1 = digital I/O module, 0 = joint
        float setPoint = 0.0f;        // last commanded position, joint units
        float velocity = 0.0f;        // velocity term of the position frame (never set: 0x80 is sent)
        float measuredPosition = 0.0f;
        float measuredCurrent = 0.0f; // raw current byte of the last answer
        float measuredVelocity = 0.0f;// V1: answer byte 1 - 127
        float gearScale = 190.0f;     // encoder counts per joint unit
        float gearZero = 0.0f;        // encoder count at joint position 0
        uint8_t busId = 0;            // commands on busId, answers on +1, temperatures on +3
        int errorCode = 0x100;        // error bits of the last answer
        std::string errorShort;       // short error text of the last decoded answer
        int decodedCode = -1;         // the errorCode errorShort was decoded from (-1: none yet)
        int motorState = 0;           // 1 when the last answer reported no error
        uint8_t digitalInputs = 0;
        float temperature = -1.0f;    // degrees Celsius, -1 when not valid
        bool referenced = false;
        bool lateReported = false;    // a "Late CAN message" line was written for this silence
    };

    // One error bit of a protocol's table and its texts.
    struct ErrorBit {
        int bit;
        const char* text;
        const char* shortText;
    };

    HardwareProtocol() = default;
    virtual ~HardwareProtocol() = default;
    HardwareProtocol(const HardwareProtocol&) = delete;
    HardwareProtocol& operator=(const HardwareProtocol&) = delete;

    virtual void Init(std::string robotName, std::string robotType, std::string iniFile);
    virtual void InitDIOModules(int busId);
    virtual void InitTool(int count, int busId, float gearScale, float gearZero);
    virtual void InitPlatform(int count);
    virtual void Connect();
    // Closes the bus adapter if open and clears the supervision flags.
    virtual void Disconnect();
    virtual bool GetConnectionStatus();
    virtual std::string GetErrorShort();
    virtual std::string GetError();
    virtual void GetError(std::string* text, std::string* shortText);
    virtual void GetError(std::string* perModule);
    virtual void GetErrorHexCode(int* codes);
    virtual void GetCurrentValues(int* currents);
    virtual void GetTempValues(float* temps);
    virtual void GetReferenceStatus(bool* perJoint, int* all);
    virtual void ResetError();
    virtual void AlignMotors();
    virtual void ReferenceSingleJoint(int joint);
    virtual void EnableMotors(bool on);
    virtual bool GetMotorEnabled();
    virtual void SetJoints(const DataTypes::RobotState& state);
    virtual void GetJoints(DataTypes::RobotState* state);
    virtual void SetToZeroPos(int joint);
    virtual void SetPlatformJointsToZeroPos();
    virtual void SetCalibrationFlag(int);
    virtual void GetVelocity(float*);
    virtual void GetCurrent(float*);
    virtual float GetSupplyVoltage();
    virtual float GetFrequency();
    virtual void SetIO(int module, int bit, bool on);
    virtual void SetRailIO(int module, int bit, bool on);
    virtual void GetDigitalIO(int module, int* inputs);
    virtual void GetDigitalIORail(bool* inputs);
    virtual bool GetZeroContact(int);
    virtual bool GetCalibFlag(int);
    // Error bits to text (" - ... - ...") and short code, each protocol from its
    // own table; "no error" / "NoError" when no bit is set.
    virtual void DecodeErrorCode(int code, std::string* text, std::string* shortText);

    // Shared state of every protocol.
    CANInterfacePHYTEC canInterface;
    std::string robotName;
    std::string robotType;
    int nrOfJoints = 0;
    int nrOfGripperJoints = 0;
    int nrOfDIOModules = 0;
    int nrOfPlatformJoints = 0;
    int nrOfReservedJoints = 0;
    int nrOfModulesTotal = 0;
    Module modules[maxModules];
    int minSupply = 0;                      // mV; below it the low-supply bit is raised
    std::atomic<int> supply{0};             // mV, from the supply/status message
    std::atomic<int> currentAll{0};
    std::atomic<int> emergencyStop{0};      // 3 = no emergency stop
    std::atomic<int> shutdownRequest{0};    // 1 after a complete shutdown request from the bus
    int shutdownStage = 0;
    std::atomic<bool> allJointsReferenced{false};
    std::atomic<bool> referencingMandatory{false};
    std::atomic<bool> cyclicExchange{false}; // SetJoints sends nothing while false
    std::atomic<bool> noErrorSeen{false};
    // Bus supervision. The cycle raises disconnectRequest when the bus fell
    // silent (V2: no answer from any module for more than 100 cycles); the
    // disconnect itself (joining the CAN read thread) is done off the cycle.
    // modulesAnswering: a module answered since the last Connect. quiet: the
    // connection lines and status changes of slow retries are not logged; it
    // ends by itself when a module answers.
    std::atomic<bool> disconnectRequest{false};
    std::atomic<bool> modulesAnswering{false};
    std::atomic<bool> quiet{false};
    std::string lastStatusText;

protected:
    // Every pause between frames goes through here, so tests can run without waiting.
    virtual void SleepMicroseconds(int microseconds);
    // How many modules, from the first, GetError(perModule) and GetErrorHexCode
    // report and the summed status code covers; none in the base.
    virtual int ErrorModuleCount() const;
    // DecodeErrorCode's work for a protocol's table of `count` bits.
    void DecodeErrorBits(const ErrorBit* table, int count, int code, std::string* text, std::string* shortText);
    // The status texts of the summed error code (-1: not connected). They depend
    // on the code alone, so they are built through DecodeErrorCode (and logged)
    // only when it changes: the cycle asks for them every time. True when the
    // status line changed (logged unless quiet).
    bool StatusTexts(int code, std::string* text, std::string* shortText);
    // The error codes of the first ErrorModuleCount() modules or'ed together; -1 when
    // the bus is not connected.
    int SummedErrorCode() const;
    // Writes one command frame of `length` bytes (at most 8) to a module of the table.
    void SendCommand(int moduleIndex, int length, const unsigned char* bytes);
    // Sends one command to each of the first `count` modules, pausing after each; the
    // cyclic exchange rests meanwhile.
    void CommandModules(int count, int length, const unsigned char* bytes, int pauseMicroseconds);
    // Command frames every generation of joint module understands.
    static constexpr unsigned char enableCommand[2] = {0x01, 0x09};
    static constexpr unsigned char disableCommand[2] = {0x01, 0x0A};
    static constexpr unsigned char resetCommand[2] = {0x01, 0x06};
    static constexpr unsigned char setZeroCommand[4] = {0x01, 0x08, 0x7D, 0x00};
    // Decodes a module's error code into its short text when the code changed.
    void DecodeModuleError(Module& m);
    // Truncation toward zero of gearZero + value * gearScale, kept inside int32;
    // false (and *counts untouched) when it is not finite.
    static bool ToCounts(float value, float gearScale, float gearZero, int* counts);
    // Number of joint records (arm, gripper, platform) in the table.
    int JointModuleCount() const { return nrOfJoints + nrOfGripperJoints + nrOfPlatformJoints; }

    int statusCode = -2;      // code lastStatusText was built from (-1 not connected)
    std::string statusShort;  // short text of statusCode
};
