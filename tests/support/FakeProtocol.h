#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "PkgHardware/HardwareProtocol.h"

// A joint protocol without a bus: records every call the robot makes and
// reports what the test sets. The joints follow their set-points exactly,
// offset by `measuredOffset`. Safe to inspect while a cycle thread runs.
class FakeProtocol : public HardwareProtocol {
public:
    struct IOCall {
        bool rail;
        int module;
        int bit;
        bool on;
    };

    // Test controls
    void SetConnected(bool on);
    void SetErrorShort(const std::string& text);
    void SetMotorEnabled(bool on);
    void SetInput(int channel, bool on);
    void SetMeasuredOffset(float offset);
    void SetConnectMakesConnected(bool on);

    // Recorded calls
    std::vector<int> References() const;
    std::vector<bool> EnableCalls() const;
    int ResetErrorCount() const;
    int ConnectCount() const;
    int DisconnectCount() const;
    int AlignCount() const;
    std::vector<int> ZeroPosCalls() const;
    int PlatformZeroCount() const;
    int SetJointsCount() const;
    DataTypes::RobotState LastSent() const;
    // Latest value written for an output, -1 if never written.
    int OutputValue(bool rail, int module, int bit) const;
    int IOCallCount() const;
    void ClearIOCalls();
    std::vector<int> ToolInit() const;
    int PlatformInit() const;
    std::vector<int> DIOModules() const;

    void InitDIOModules(int busId) override;
    void InitTool(int count, int busId, float gearScale, float gearZero) override;
    void InitPlatform(int count) override;
    void Connect() override;
    void Disconnect() override;
    bool GetConnectionStatus() override;
    std::string GetErrorShort() override;
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
    void GetDigitalIORail(bool* inputs) override;

private:
    // A copy of a field, or a new value for it, under the lock (the robot
    // cycle of a test may run on its own thread).
    template <class T>
    T Locked(const T& field) const {
        std::lock_guard<std::mutex> lock(mutex);
        return field;
    }
    template <class T>
    void Store(T& field, const T& value) {
        std::lock_guard<std::mutex> lock(mutex);
        field = value;
    }

    mutable std::mutex mutex;
    bool connected = false;
    bool connectMakesConnected = true;
    std::string errorShort = "NoError";
    bool motorEnabled = false;
    bool inputs[64] = {};
    float measuredOffset = 0.0f;
    std::vector<int> references;
    std::vector<bool> enableCalls;
    int resetErrors = 0;
    int connects = 0;
    int disconnects = 0;
    int aligns = 0;
    std::vector<int> zeroPos;
    int platformZero = 0;
    int setJointsCount = 0;
    DataTypes::RobotState lastSent;
    std::vector<IOCall> ioCalls;
    std::vector<int> toolInit;
    int platformInit = 0;
    std::vector<int> dioModules;
};
