#include "support/FakeProtocol.h"

void FakeProtocol::SetConnected(bool on) { Store(connected, on); }
void FakeProtocol::SetErrorShort(const std::string& text) { Store(errorShort, text); }
void FakeProtocol::SetMotorEnabled(bool on) { Store(motorEnabled, on); }
void FakeProtocol::SetInput(int channel, bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    inputs[channel] = on;
}
void FakeProtocol::SetMeasuredOffset(float offset) { Store(measuredOffset, offset); }
void FakeProtocol::SetConnectMakesConnected(bool on) { Store(connectMakesConnected, on); }

std::vector<int> FakeProtocol::References() const { return Locked(references); }
std::vector<bool> FakeProtocol::EnableCalls() const { return Locked(enableCalls); }
int FakeProtocol::ResetErrorCount() const { return Locked(resetErrors); }
int FakeProtocol::ConnectCount() const { return Locked(connects); }
int FakeProtocol::DisconnectCount() const { return Locked(disconnects); }
int FakeProtocol::AlignCount() const { return Locked(aligns); }
std::vector<int> FakeProtocol::ZeroPosCalls() const { return Locked(zeroPos); }
int FakeProtocol::PlatformZeroCount() const { return Locked(platformZero); }
int FakeProtocol::SetJointsCount() const { return Locked(setJointsCount); }
DataTypes::RobotState FakeProtocol::LastSent() const { return Locked(lastSent); }
int FakeProtocol::OutputValue(bool rail, int module, int bit) const {
    std::lock_guard<std::mutex> lock(mutex);
    int value = -1;
    for (const IOCall& c : ioCalls) {
        if (c.rail == rail && c.module == module && c.bit == bit) value = c.on ? 1 : 0;
    }
    return value;
}
int FakeProtocol::IOCallCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return int(ioCalls.size());
}
void FakeProtocol::ClearIOCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    ioCalls.clear();
}
std::vector<int> FakeProtocol::ToolInit() const { return Locked(toolInit); }
int FakeProtocol::PlatformInit() const { return Locked(platformInit); }
std::vector<int> FakeProtocol::DIOModules() const { return Locked(dioModules); }

void FakeProtocol::InitDIOModules(int busId) {
    std::lock_guard<std::mutex> lock(mutex);
    dioModules.push_back(busId);
}
void FakeProtocol::InitTool(int count, int busId, float gearScale, float gearZero) {
    std::lock_guard<std::mutex> lock(mutex);
    toolInit = {count, busId, int(gearScale), int(gearZero)};
}
void FakeProtocol::InitPlatform(int count) { Store(platformInit, count); }
void FakeProtocol::Connect() {
    std::lock_guard<std::mutex> lock(mutex);
    ++connects;
    if (connectMakesConnected) connected = true;
}
void FakeProtocol::Disconnect() {
    std::lock_guard<std::mutex> lock(mutex);
    ++disconnects;
    connected = false;
}
bool FakeProtocol::GetConnectionStatus() {
    std::lock_guard<std::mutex> lock(mutex);
    return connected;
}
std::string FakeProtocol::GetErrorShort() {
    std::lock_guard<std::mutex> lock(mutex);
    return errorShort;
}
void FakeProtocol::ResetError() {
    std::lock_guard<std::mutex> lock(mutex);
    ++resetErrors;
}
void FakeProtocol::AlignMotors() {
    std::lock_guard<std::mutex> lock(mutex);
    ++aligns;
}
void FakeProtocol::ReferenceSingleJoint(int joint) {
    std::lock_guard<std::mutex> lock(mutex);
    references.push_back(joint);
}
void FakeProtocol::EnableMotors(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    enableCalls.push_back(on);
    motorEnabled = on;
}
bool FakeProtocol::GetMotorEnabled() {
    std::lock_guard<std::mutex> lock(mutex);
    return motorEnabled;
}
void FakeProtocol::SetJoints(const DataTypes::RobotState& state) {
    std::lock_guard<std::mutex> lock(mutex);
    ++setJointsCount;
    lastSent = state;
}
void FakeProtocol::GetJoints(DataTypes::RobotState* state) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i)
        state->jointCurrent[i] = lastSent.jointSetPoint[i] + measuredOffset;
    state->gripperCurrent[0] = lastSent.gripperCurrent[0];
}
void FakeProtocol::SetToZeroPos(int joint) {
    std::lock_guard<std::mutex> lock(mutex);
    zeroPos.push_back(joint);
}
void FakeProtocol::SetPlatformJointsToZeroPos() {
    std::lock_guard<std::mutex> lock(mutex);
    ++platformZero;
}
void FakeProtocol::SetIO(int module, int bit, bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    ioCalls.push_back({false, module, bit, on});
}
void FakeProtocol::SetRailIO(int module, int bit, bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    ioCalls.push_back({true, module, bit, on});
}
void FakeProtocol::GetDigitalIORail(bool* in) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < 64; ++i) in[i] = inputs[i];
}
