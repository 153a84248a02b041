#include "PkgHardware/HardwareProtocol.h"

#include <unistd.h>

// Base behaviour: a protocol that offers an operation overrides it; the rest
// does nothing and reports nothing.

void HardwareProtocol::Init(std::string, std::string, std::string) {}
void HardwareProtocol::InitDIOModules(int) {}
void HardwareProtocol::InitTool(int, int, float, float) {}
void HardwareProtocol::InitPlatform(int) {}
void HardwareProtocol::Connect() {}
void HardwareProtocol::Disconnect() {}
bool HardwareProtocol::GetConnectionStatus() { return false; }
std::string HardwareProtocol::GetErrorShort() { return ""; }
std::string HardwareProtocol::GetError() { return ""; }
void HardwareProtocol::GetError(std::string*, std::string*) {}
void HardwareProtocol::GetError(std::string*) {}
void HardwareProtocol::GetErrorHexCode(int*) {}
void HardwareProtocol::GetCurrentValues(int*) {}
void HardwareProtocol::GetTempValues(float*) {}
void HardwareProtocol::GetReferenceStatus(bool*, int*) {}
void HardwareProtocol::ResetError() {}
void HardwareProtocol::AlignMotors() {}
void HardwareProtocol::ReferenceSingleJoint(int) {}
void HardwareProtocol::EnableMotors(bool) {}
bool HardwareProtocol::GetMotorEnabled() { return false; }
void HardwareProtocol::SetJoints(const DataTypes::RobotState&) {}
void HardwareProtocol::GetJoints(DataTypes::RobotState*) {}
void HardwareProtocol::SetToZeroPos(int) {}
void HardwareProtocol::SetPlatformJointsToZeroPos() {}
void HardwareProtocol::SetCalibrationFlag(int) {}
void HardwareProtocol::GetVelocity(float*) {}
void HardwareProtocol::GetCurrent(float*) {}
float HardwareProtocol::GetSupplyVoltage() { return 0.0f; }
float HardwareProtocol::GetFrequency() { return 0.0f; }
void HardwareProtocol::SetIO(int, int, bool) {}
void HardwareProtocol::SetRailIO(int, int, bool) {}
void HardwareProtocol::GetDigitalIO(int, int*) {}
void HardwareProtocol::GetDigitalIORail(bool*) {}
bool HardwareProtocol::GetZeroContact(int) { return false; }
bool HardwareProtocol::GetCalibFlag(int) { return false; }

void HardwareProtocol::SleepMicroseconds(int microseconds) {
    if (microseconds > 0) usleep(useconds_t(microseconds));
}
