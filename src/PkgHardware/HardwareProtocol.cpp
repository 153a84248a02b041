#include "PkgHardware/HardwareProtocol.h"

#include <unistd.h>

#include <cmath>

#include "LogSingleton.h"

// Base behaviour: a protocol that offers an operation overrides it; the rest
// does nothing and reports nothing.

void HardwareProtocol::Init(std::string, std::string, std::string) {}
void HardwareProtocol::InitDIOModules(int) {}
void HardwareProtocol::InitTool(int, int, float, float) {}
void HardwareProtocol::InitPlatform(int) {}
void HardwareProtocol::Connect() {}
void HardwareProtocol::Disconnect() {
    noErrorSeen = false;
    canInterface.SetQuiet(quiet.load());
    if (canInterface.IsConnected()) canInterface.Disconnect();
    modulesAnswering = false;
    disconnectRequest = false;
}
bool HardwareProtocol::GetConnectionStatus() { return false; }
void HardwareProtocol::GetError(std::string*, std::string*) {}
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
void HardwareProtocol::DecodeErrorCode(int code, std::string* text, std::string* shortText) {
    DecodeErrorBits(nullptr, 0, code, text, shortText);
}

std::string HardwareProtocol::GetError() {
    std::string text;
    std::string shortText;
    GetError(&text, &shortText);
    return text;
}

void HardwareProtocol::GetError(std::string* perModule) {
    if (perModule == nullptr) return;
    for (int k = 0; k < ErrorModuleCount(); ++k) perModule[k] = modules[k].errorShort;
}

void HardwareProtocol::GetErrorHexCode(int* codes) {
    if (codes == nullptr) return;
    for (int k = 0; k < ErrorModuleCount(); ++k) codes[k] = modules[k].errorCode;
}

int HardwareProtocol::ErrorModuleCount() const { return 0; }

std::string HardwareProtocol::GetErrorShort() {
    std::string text;
    std::string shortText;
    GetError(&text, &shortText);
    return shortText;
}

void HardwareProtocol::SleepMicroseconds(int microseconds) {
    if (microseconds > 0) usleep(useconds_t(microseconds));
}

void HardwareProtocol::DecodeErrorBits(const ErrorBit* table, int count, int code, std::string* text,
                                       std::string* shortText) {
    std::string t;
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (code & table[i].bit) {
            t += table[i].text;
            s += table[i].shortText;
        }
    }
    if (code == 0) {
        t = "no error";
        s = "NoError";
        noErrorSeen = true;
    }
    if (text != nullptr) *text = t;
    if (shortText != nullptr) *shortText = s;
}

bool HardwareProtocol::StatusTexts(int code, std::string* text, std::string* shortText) {
    bool changed = false;
    if (code != statusCode || lastStatusText.empty()) {
        std::string t;
        std::string s;
        if (code >= 0) {
            DecodeErrorCode(code, &t, &s);
        } else {
            t = "not connected";
            s = "NotConnected";
        }
        std::string status = "Status: " + t;
        if (status != lastStatusText) {
            if (!quiet.load()) LogSingleton::instance()->add(status);
            changed = true;
        }
        lastStatusText = status;
        statusShort = s;
        statusCode = code;
    } else if (code == 0) {
        noErrorSeen = true;
    }
    if (text != nullptr) *text = lastStatusText;
    if (shortText != nullptr) *shortText = statusShort;
    return changed;
}

int HardwareProtocol::SummedErrorCode() const {
    if (!canInterface.IsConnected()) return -1;
    // Asked once: the cycle sums the codes every time.
    const int count = ErrorModuleCount();
    int code = 0;
    for (int k = 0; k < count; ++k) code |= modules[k].errorCode;
    return code;
}

void HardwareProtocol::SendCommand(int moduleIndex, int length, const unsigned char* bytes) {
    unsigned char data[8] = {0};
    for (int i = 0; i < length && i < 8; ++i) data[i] = bytes[i];
    canInterface.WriteMessage(modules[moduleIndex].busId, length, data);
}

void HardwareProtocol::CommandModules(int count, int length, const unsigned char* bytes,
                                      int pauseMicroseconds) {
    cyclicExchange = false;
    for (int k = 0; k < count; ++k) {
        SendCommand(k, length, bytes);
        SleepMicroseconds(pauseMicroseconds);
    }
    cyclicExchange = true;
}

void HardwareProtocol::DecodeModuleError(Module& m) {
    if (m.errorCode == m.decodedCode) {
        if (m.errorCode == 0) noErrorSeen = true;  // as decoding would
        return;
    }
    DecodeErrorCode(m.errorCode, nullptr, &m.errorShort);
    m.decodedCode = m.errorCode;
}

bool HardwareProtocol::ToCounts(float value, float gearScale, float gearZero, int* counts) {
    double c = double(gearZero) + double(value) * double(gearScale);
    if (!std::isfinite(c)) return false;
    if (c > 2147483647.0) c = 2147483647.0;
    if (c < -2147483648.0) c = -2147483648.0;
    *counts = int(c);
    return true;
}
