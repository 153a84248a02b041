#include "PkgHardware/HardwareProtocolVKTCAN.h"

#include <cmath>
#include <iostream>

#include "LogSingleton.h"
#include "PkgHardware/BusConfigReader.h"

namespace {

const HardwareProtocol::ErrorBit kErrorBits[] = {
    {0x001, " - brown out or watch dog", "BOWD"}, {0x002, " - velLag", "VLAG"},
    {0x004, " - motor not enabled", "MNE"},       {0x008, " - comm watch dog", "_COM"},
    {0x010, " - position lag", "_LAG"},           {0x020, " - encoder error", "_ENC"},
    {0x040, " - over current", "_OC"},            {0x080, " - CAN error", "_CAN"},
    {0x100, " - bus dead", "_BUS"},               {0x200, " - module dead", "_DEAD"},
};


}  // namespace

HardwareProtocolVKTCAN::HardwareProtocolVKTCAN() { nrOfJoints = 3; }
HardwareProtocolVKTCAN::~HardwareProtocolVKTCAN() = default;

void HardwareProtocolVKTCAN::Init(std::string name, std::string type, std::string iniFile) {
    robotName = name;
    robotType = type;
    for (int i = 0; i < maxArmJoints; ++i) {
        modules[i].gearScale = 190.0f;
        modules[i].gearZero = 32000.0f;
        modules[i].errorCode = 0x100;
    }
    for (int i = 0; i < 3; ++i) modules[i].busId = uint8_t(0x10 * (i + 1));
    gapMS = 3;
    messageCounter = 0;
    cyclicExchange = false;
    noErrorSeen = false;
    ReadConfigFile(iniFile);
}

void HardwareProtocolVKTCAN::ReadConfigFile(const std::string& path) {
    BusConfigReader::Result config = BusConfigReader::Read(path, "VKTCAN", false);
    gapMS = config.gapMS;
    nrOfJoints = int(config.joints.size());
    for (int i = 0; i < nrOfJoints; ++i) {
        modules[i].busId = uint8_t(config.joints[size_t(i)].id);
        modules[i].gearScale = config.joints[size_t(i)].gearScale;
        modules[i].gearZero = config.joints[size_t(i)].gearZero;
    }
    nrOfModulesTotal = nrOfJoints;
}

void HardwareProtocolVKTCAN::Connect() {
    canInterface.SetQuiet(quiet.load());
    if (!quiet.load()) LogSingleton::instance()->add("ProtocolVKTCAN: connecting");
    noErrorSeen = false;
    modulesAnswering = false;
    if (!canInterface.IsConnected()) canInterface.Connect();
    disconnectRequest = false;
    cyclicExchange = canInterface.IsConnected();
}

bool HardwareProtocolVKTCAN::GetConnectionStatus() { return canInterface.IsConnected(); }

bool HardwareProtocolVKTCAN::GetMotorEnabled() {
    if (nrOfJoints < 1) return false;
    for (int k = 0; k < nrOfJoints; ++k)
        if (modules[k].motorState != 1) return false;
    return true;
}

void HardwareProtocolVKTCAN::DecodeErrorCode(int code, std::string* text, std::string* shortText) {
    DecodeErrorBits(kErrorBits, int(sizeof kErrorBits / sizeof kErrorBits[0]), code, text, shortText);
}

void HardwareProtocolVKTCAN::GetError(std::string* text, std::string* shortText) {
    noErrorSeen = false;
    int code = SummedErrorCode();
    StatusTexts(code, text, shortText);
}

int HardwareProtocolVKTCAN::ErrorModuleCount() const { return nrOfJoints; }

void HardwareProtocolVKTCAN::EnableMotors(bool on) {
    LogSingleton::instance()->add(on ? "Enabling motors" : "Disabling motors");
    CommandModules(nrOfJoints, 2, on ? enableCommand : disableCommand, 2000);
}

void HardwareProtocolVKTCAN::ResetError() {
    CommandModules(nrOfJoints, 2, resetCommand, 500);
}

void HardwareProtocolVKTCAN::SetToZeroPos(int joint) {
    if (!canInterface.IsConnected()) {
        std::cout << "cannot set to zero pos before connecting." << std::endl;
        return;
    }
    if (joint < 0) {
        LogSingleton::instance()->addError("ProtocolVKTCAN: SetToZeroPos: no joint " + std::to_string(joint));
        return;
    }
    if (joint >= nrOfJoints) return;
    cyclicExchange = false;
    SendCommand(joint, 4, setZeroCommand);
    SleepMicroseconds(1000);
    SendCommand(joint, 4, setZeroCommand);
    std::cout << "Setting joint " << joint << " to zero pos" << std::endl;
    cyclicExchange = true;
}

void HardwareProtocolVKTCAN::SetIO(int module, int bit, bool on) {
    if (!canInterface.IsConnected()) return;
    if (module < 0 || module >= maxModules) {
        if (!setIOLogged)
            LogSingleton::instance()->addError("ProtocolVKTCAN: SetIO ignored for module " + std::to_string(module) +
                                               " (reported once)");
        setIOLogged = true;
        return;
    }
    if (bit < 0 || bit > 3) return;  // the frame carries four outputs
    if (on)
        outputBits[module] |= (1 << bit);
    else
        outputBits[module] &= ~(1 << bit);
}

void HardwareProtocolVKTCAN::SetJoints(const DataTypes::RobotState& state) {
    if (!canInterface.IsConnected() || !cyclicExchange.load()) return;
    for (int k = 0; k < nrOfJoints; ++k) {
        Module& m = modules[k];
        float value = state.jointSetPoint[k];
        int counts = lastCounts[k];
        if (ToCounts(value, m.gearScale, m.gearZero, &counts)) {
            lastCounts[k] = counts;
            m.setPoint = value;
        } else {
            // A non-finite set-point must not move the joint: repeat the last position.
            if (!invalidSetPointLogged)
                LogSingleton::instance()->addError("ProtocolVKTCAN: invalid set-point for joint " +
                                                   std::to_string(k) + ", last position repeated (reported once)");
            invalidSetPointLogged = true;
        }
        int velocity = int(128.0f + m.velocity * 0.25f);
        unsigned char data[6];
        data[0] = 0x04;
        data[1] = (unsigned char)(velocity < 0 ? 0 : (velocity > 255 ? 255 : velocity));
        data[2] = (unsigned char)((counts / 256) & 0xFF);
        data[3] = (unsigned char)(counts & 0xFF);
        data[4] = (unsigned char)messageCounter;
        data[5] = (unsigned char)(outputBits[k] & 0x0F);
        canInterface.WriteMessage(m.busId, 6, data);
        messageCounter = (messageCounter + 1) % 100;
        if (gapMS > 0) SleepMicroseconds(gapMS * 1000);
    }
    for (int k = 0; k < nrOfJoints; ++k) {
        Module& m = modules[k];
        int id = int(m.busId) + 1;
        if (id > 255) continue;  // no answer slot above identifier 255
        int length = 0;
        unsigned char data[8] = {0};
        long sequence = -1;
        canInterface.GetLastMessage(id, &length, data, &sequence);
        if (sequence > answerSequence[k]) {
            answerSequence[k] = sequence;
            if (!modulesAnswering.load()) {
                modulesAnswering = true;
                quiet = false;
                canInterface.SetQuiet(false);
            }
        }
        if (sequence < 0) {
            // The adapter went down during this cycle: nothing to decode, the bus is dead.
            m.errorCode = 0x100;
            m.motorState = 0;
            DecodeModuleError(m);
            continue;
        }
        m.errorCode = data[0];
        DecodeModuleError(m);
        int counts = data[2] * 256 + data[3];
        if (m.gearScale != 0.0f) m.measuredPosition = float((double(counts) - double(m.gearZero)) / double(m.gearScale));
        m.measuredVelocity = float(int(data[1]) - 127);
        m.measuredCurrent = float(data[4]);
        m.digitalInputs = data[7];
        m.referenced = (data[7] & 0x80) != 0;
        m.motorState = data[0] == 0 ? 1 : 0;
    }
}

void HardwareProtocolVKTCAN::GetJoints(DataTypes::RobotState* state) {
    if (state == nullptr) return;
    for (int i = 0; i < nrOfJoints; ++i) state->jointCurrent[i] = modules[i].measuredPosition;
}
