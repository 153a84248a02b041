#include "PkgHardware/HardwareProtocolVKTCANV2.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "LogSingleton.h"
#include "PkgHardware/BusConfigReader.h"
#include "TextFormat.h"

namespace {

const HardwareProtocol::ErrorBit kErrorBits[] = {
    {0x001, " - emergency stop", "ESTOP"},  {0x002, " - low supply", "_LOWV"},
    {0x004, " - motor not enabled", "_MNE"}, {0x008, " - comm watch dog", "_COM"},
    {0x010, " - position lag", "_LAG"},      {0x020, " - encoder error", "_ENC"},
    {0x040, " - over current", "_OC"},       {0x080, " - general error", "_GEN"},
    {0x100, " - bus dead", "_BUS"},          {0x200, " - module dead", "_DEAD"},
};

const unsigned char kReference[] = {0x01, 0x0B};
const unsigned char kAlign[] = {0x01, 0x0C, 0x3C, 0x96, 0x64, 0x32};

struct PlatformDefault {
    int id;
    float gearScale;
};
const PlatformDefault kPlatform[HardwareProtocol::platformJoints] = {
    {0xA0, 500.0f}, {0xB0, -500.0f}, {0xC0, -500.0f}, {0xD0, 500.0f}};

}  // namespace

HardwareProtocolVKTCANV2::HardwareProtocolVKTCANV2() = default;
HardwareProtocolVKTCANV2::~HardwareProtocolVKTCANV2() = default;

void HardwareProtocolVKTCANV2::Init(std::string name, std::string type, std::string iniFile) {
    robotName = name;
    robotType = type;
    cyclicExchange = false;
    noErrorSeen = false;
    for (int i = 0; i < 6; ++i) modules[i].busId = uint8_t(0x10 * (i + 1));
    for (int i = 0; i < maxArmJoints; ++i) {
        modules[i].gearScale = 190.0f;
        modules[i].gearZero = 0.0f;
        modules[i].measuredPosition = 0.0f;
        modules[i].errorCode = 0x100;
    }
    for (int& bits : outputBits) bits = 0;
    for (int& bits : dioOutputBits) bits = 0;
    minSupply = 20000;
    gapMS = 3;
    messageCounter = 0;
    ReadConfigFile(iniFile);
}

void HardwareProtocolVKTCANV2::ReadConfigFile(const std::string& path) {
    BusConfigReader::Result config = BusConfigReader::Read(path, "VKTCANV2", true);
    gapMS = config.gapMS;
    nrOfJoints = int(config.joints.size());
    for (int i = 0; i < nrOfJoints; ++i) {
        modules[i].kind = 0;
        modules[i].busId = uint8_t(config.joints[size_t(i)].id);
        modules[i].gearScale = config.joints[size_t(i)].gearScale;
        modules[i].gearZero = config.joints[size_t(i)].gearZero;
    }
    referencingMandatory = config.referencingMandatory;
    nrOfModulesTotal = JointModuleCount() + nrOfDIOModules + nrOfReservedJoints;
}

void HardwareProtocolVKTCANV2::InitTool(int count, int busId, float gearScale, float gearZero) {
    LogSingleton* log = LogSingleton::instance();
    // The gripper record sits right after the arm joints: it cannot move behind I/O modules.
    if (nrOfDIOModules > 0 || nrOfPlatformJoints > 0) {
        log->addError("ERROR: gripper joint must be added before platform and DIO modules; not added.");
        return;
    }
    if (count > 0 && (busId < 0 || busId > 255)) {
        log->addError("ERROR: gripper joint CAN ID " + std::to_string(busId) + " out of range 0 ... 255; not added.");
        return;
    }
    nrOfGripperJoints = count > 0 ? 1 : 0;
    if (count > 0) {
        Module& m = modules[nrOfJoints];
        m = Module();
        m.busId = uint8_t(busId);
        m.gearScale = gearScale;
        m.gearZero = gearZero;
        m.measuredPosition = 0.0f;
        m.errorCode = 0x100;
        log->add(Format("   Gripper Joint: CAN ID %d - GearScale %.3lf - GearZero %.3lf", busId,
                        double(gearScale), double(gearZero)));
    }
    nrOfModulesTotal = JointModuleCount() + nrOfDIOModules + nrOfReservedJoints;
}

void HardwareProtocolVKTCANV2::InitPlatform(int count) {
    LogSingleton* log = LogSingleton::instance();
    if (nrOfDIOModules > 0) {
        log->addError("ERROR: platform joints must be added before DIO modules; not added.");
        return;
    }
    nrOfPlatformJoints = count < 0 ? 0 : (count > platformJoints ? platformJoints : count);
    int first = nrOfJoints + nrOfGripperJoints;
    for (int i = 0; i < platformJoints && first + i < maxModules; ++i) {
        Module& m = modules[first + i];
        m = Module();
        m.busId = uint8_t(kPlatform[i].id);
        m.gearScale = kPlatform[i].gearScale;
        m.gearZero = 0.0f;
        m.measuredPosition = 0.0f;
        m.errorCode = 0x100;
        char line[128];
        std::snprintf(line, sizeof line, "   Platform Joint %d: CAN ID %d - GearScale %.3lf - GearZero %.3lf", i,
                      kPlatform[i].id, double(kPlatform[i].gearScale), 0.0);
        log->add(line);
    }
    nrOfModulesTotal = JointModuleCount() + nrOfDIOModules + nrOfReservedJoints;
}

void HardwareProtocolVKTCANV2::InitDIOModules(int busId) {
    LogSingleton* log = LogSingleton::instance();
    if (nrOfDIOModules >= maxDIOModules) {
        log->addError("ERROR: Cannot add more than 3 DIO modules!");
        return;
    }
    int total = JointModuleCount() + nrOfDIOModules + nrOfReservedJoints + 1;
    if (total > maxModules) {
        log->addError("ERROR: Cannot add DIO module: all 16 bus modules are in use!");
        return;
    }
    if (busId < 0 || busId > 255) {
        log->addError("ERROR: DIO module CAN ID " + std::to_string(busId) + " out of range 0 ... 255; not added.");
        return;
    }
    nrOfDIOModules++;
    nrOfModulesTotal = total;
    Module& m = modules[total - 1];
    m = Module();
    m.kind = 1;
    m.busId = uint8_t(busId);
    m.errorCode = 0x100;
    dioModuleIndex[nrOfDIOModules - 1] = total - 1;
    char line[64];
    std::snprintf(line, sizeof line, "DIO module added on CAN ID %d.", busId);
    log->add(line);
}

void HardwareProtocolVKTCANV2::Connect() {
    LogSingleton* log = LogSingleton::instance();
    const bool verbose = !quiet.load();
    canInterface.SetQuiet(!verbose);
    if (verbose) log->add("ProtocolVKTCANV2: connecting");
    noErrorSeen = false;
    modulesAnswering = false;
    silentCycles = 0;
    if (!canInterface.IsConnected()) canInterface.Connect();
    disconnectRequest = false;
    cyclicExchange = canInterface.IsConnected();
    if (verbose)
        log->add(canInterface.IsConnected() ? "ProtocolVKTCANV2: Connection succeeded"
                                            : "ProtocolVKTCANV2: No connection!");
}

bool HardwareProtocolVKTCANV2::GetConnectionStatus() {
    // Disconnecting joins the CAN read thread (up to 100 ms): the cycle only
    // asks for it, the robot's bus supervision does it off the cycle thread.
    if (silentCycles > silentLimit && !disconnectRequest.load()) {
        if (!quiet.load())
            LogSingleton::instance()->addError("ProtocolVKTCANV2: no answer from any module for " +
                                               std::to_string(silentCycles) + " cycles, disconnecting");
        disconnectRequest = true;
        silentCycles = 0;
    }
    return canInterface.IsConnected() && !disconnectRequest.load();
}

void HardwareProtocolVKTCANV2::DecodeErrorCode(int code, std::string* text, std::string* shortText) {
    DecodeErrorBits(kErrorBits, int(sizeof kErrorBits / sizeof kErrorBits[0]), code, text, shortText);
}

void HardwareProtocolVKTCANV2::GetError(std::string* text, std::string* shortText) {
    noErrorSeen = false;
    int code = SummedErrorCode();
    if (code >= 0) {
        if (emergencyStop.load() != 3) code |= 0x001;
        if (supply.load() < minSupply) code |= 0x002;
    }
    if (StatusTexts(code, text, shortText)) {
        // The status LED shows each new status.
        int rest = code < 0 ? 0 : code & ~0x100;
        if (rest == 0)
            SendStatusLed(0, 150, 0);
        else if (rest == 0x004)
            SendStatusLed(220, 95, 0);
        else
            SendStatusLed(150, 0, 0);
    }
}

int HardwareProtocolVKTCANV2::ErrorModuleCount() const { return JointModuleCount() + nrOfDIOModules; }

void HardwareProtocolVKTCANV2::GetCurrentValues(int* currents) {
    if (currents == nullptr) return;
    for (int k = 0; k < JointModuleCount(); ++k) currents[k] = int(modules[k].measuredCurrent);
}

void HardwareProtocolVKTCANV2::GetTempValues(float* temps) {
    if (temps == nullptr) return;
    for (int k = 0; k < JointModuleCount(); ++k) temps[k] = modules[k].temperature;
}

void HardwareProtocolVKTCANV2::GetReferenceStatus(bool* perJoint, int* all) {
    bool every = true;
    for (int k = 0; k < nrOfJoints; ++k) {
        if (perJoint != nullptr) perJoint[k] = modules[k].referenced;
        every = every && modules[k].referenced;
    }
    if (all != nullptr) *all = every ? 1 : 0;
}

bool HardwareProtocolVKTCANV2::GetMotorEnabled() {
    if (nrOfJoints < 1) return false;
    int count = JointModuleCount() + nrOfDIOModules;
    for (int k = 0; k < count; ++k)
        if (modules[k].motorState != 1) return false;
    return true;
}

void HardwareProtocolVKTCANV2::SendStatusLed(int red, int green, int blue) {
    unsigned char data[8] = {0x01, 0x30, 0x00, (unsigned char)red, (unsigned char)green,
                             (unsigned char)blue, 0x00, 0x00};
    canInterface.WriteMessage(statusLedId, 8, data);
}

void HardwareProtocolVKTCANV2::EnableMotors(bool on) {
    std::cout << (on ? "Enabling motors" : "Disabling motors") << std::endl;
    CommandModules(JointModuleCount() + nrOfDIOModules, 2, on ? enableCommand : disableCommand, 2000);
}

void HardwareProtocolVKTCANV2::ResetError() {
    CommandModules(JointModuleCount() + nrOfDIOModules, 2, resetCommand, 2000);
}

void HardwareProtocolVKTCANV2::ReferenceSingleJoint(int joint) {
    LogSingleton* log = LogSingleton::instance();
    if (joint < 0 || joint >= JointModuleCount()) {
        log->addError("VKTCAN2: cannot reference joint " + std::to_string(joint) + ": no such joint");
        return;
    }
    log->add("VKTCAN2: Starting to reference joint ", joint);
    cyclicExchange = false;
    for (int i = 0; i < 2; ++i) {
        SendCommand(joint, 2, kReference);
        SleepMicroseconds(2000);
    }
    cyclicExchange = true;
}

void HardwareProtocolVKTCANV2::AlignMotors() {
    LogSingleton* log = LogSingleton::instance();
    log->add("VKTCAN2: Starting to align torque motors");
    cyclicExchange = false;
    int count = nrOfJoints < 6 ? nrOfJoints : 6;
    for (int k = 0; k < count; ++k) {
        log->add("VKTCAN2: Aligning motor ", k);
        SendCommand(k, 6, kAlign);
        SleepMicroseconds(10000);
        SendCommand(k, 6, kAlign);
        SleepMicroseconds(2000000);
    }
    cyclicExchange = true;
}

void HardwareProtocolVKTCANV2::SetToZeroPos(int joint) {
    std::cout << "VKTCANV2: SetToZeroPos joint " << joint << " started..." << std::endl;
    if (!canInterface.IsConnected()) {
        std::cout << "cannot set to zero pos before connecting." << std::endl;
        return;
    }
    if (joint < 0) {
        LogSingleton::instance()->addError("VKTCANV2: SetToZeroPos: no joint " + std::to_string(joint));
        return;
    }
    if (joint >= nrOfJoints + nrOfGripperJoints) return;
    cyclicExchange = false;
    SendCommand(joint, 4, setZeroCommand);
    SleepMicroseconds(500);
    SendCommand(joint, 4, setZeroCommand);
    SleepMicroseconds(1000);
    std::cout << "Setting joint " << joint << " to zero pos" << std::endl;
    cyclicExchange = true;
}

void HardwareProtocolVKTCANV2::SetPlatformJointsToZeroPos() {
    if (!canInterface.IsConnected()) {
        std::cout << "cannot set platform to zero before connecting." << std::endl;
        return;
    }
    if (nrOfPlatformJoints < 1) return;
    cyclicExchange = false;
    int first = nrOfJoints + nrOfGripperJoints;
    for (int k = first; k < first + nrOfPlatformJoints; ++k) {
        SendCommand(k, 4, setZeroCommand);
        SleepMicroseconds(500);
        SendCommand(k, 4, setZeroCommand);
        SleepMicroseconds(1000);
    }
    std::cout << "Setting platform joints to zero pos" << std::endl;
    cyclicExchange = true;
}

void HardwareProtocolVKTCANV2::LogIgnoredOnce(bool* logged, const std::string& text) {
    if (*logged) return;
    *logged = true;
    LogSingleton::instance()->addError(text + " (reported once)");
}

void HardwareProtocolVKTCANV2::SetIO(int module, int bit, bool on) {
    if (!canInterface.IsConnected()) return;
    if (module < 0 || module >= maxModules || bit < 0 || bit > 7) {
        // The cycle offers outputs 8 ... 19 every time: no text unless it is logged.
        if (!setIOLogged)
            LogIgnoredOnce(&setIOLogged, "ProtocolVKTCANV2: SetIO ignored for module " + std::to_string(module) +
                                         " bit " + std::to_string(bit));
        return;
    }
    if (on)
        outputBits[module] |= (1 << bit);
    else
        outputBits[module] &= ~(1 << bit);
}

void HardwareProtocolVKTCANV2::SetRailIO(int module, int bit, bool on) {
    if (!canInterface.IsConnected()) return;
    if (module < 0 || module >= maxDIOModules || bit < 0) {
        if (!setRailIOLogged)
            LogIgnoredOnce(&setRailIOLogged, "ProtocolVKTCANV2: SetRailIO ignored for module " +
                                             std::to_string(module) + " bit " + std::to_string(bit));
        return;
    }
    if (bit > 6) return;  // bit 7 of the I/O frame is not an output
    if (on)
        dioOutputBits[module] |= (1 << bit);
    else
        dioOutputBits[module] &= ~(1 << bit);
}

void HardwareProtocolVKTCANV2::GetDigitalIO(int module, int* inputs) {
    if (nrOfJoints < 1 || inputs == nullptr) return;
    if (module < 0 || module >= maxModules) {
        if (!getDigitalIOLogged)
            LogIgnoredOnce(&getDigitalIOLogged,
                       "ProtocolVKTCANV2: GetDigitalIO ignored for module " + std::to_string(module));
        return;
    }
    *inputs = modules[module].digitalInputs;
}

void HardwareProtocolVKTCANV2::GetDigitalIORail(bool* inputs) {
    if (inputs == nullptr) return;
    for (int m = 0; m < nrOfDIOModules && m < maxDIOModules; ++m) {
        int index = dioModuleIndex[m];
        if (index < 0) continue;
        for (int b = 0; b < 7; ++b) inputs[20 + 10 * m + b] = (modules[index].digitalInputs >> b) & 1;
    }
}

void HardwareProtocolVKTCANV2::SetJoints(const DataTypes::RobotState& state) {
    if (!canInterface.IsConnected() || !cyclicExchange.load()) return;
    LogSingleton* log = LogSingleton::instance();

    const int jointModules = JointModuleCount();
    float values[maxModules] = {0};
    int k = 0;
    for (int i = 0; i < nrOfJoints && k < maxModules; ++i) values[k++] = state.jointSetPoint[i];
    for (int i = 0; i < nrOfGripperJoints && k < maxModules; ++i) values[k++] = state.gripperCurrent[i];
    for (int i = 0; i < nrOfPlatformJoints && k < maxModules; ++i) values[k++] = state.platformSetPoint[i];

    messageCounter = (messageCounter + 1) % 255;

    for (k = 0; k < jointModules; ++k) {
        Module& m = modules[k];
        int counts = lastCounts[k];
        if (ToCounts(values[k], m.gearScale, m.gearZero, &counts)) {
            m.setPoint = values[k];
            lastCounts[k] = counts;
        } else {
            // A non-finite set-point must not move the joint: repeat the last position.
            if (!invalidSetPointLogged)
                LogIgnoredOnce(&invalidSetPointLogged, "ProtocolVKTCANV2: invalid set-point for module " +
                                                       std::to_string(k) + ", last position repeated");
        }
        int velocity = int(128.0f + m.velocity * 0.25f);
        unsigned char data[8];
        data[0] = 0x14;
        data[1] = (unsigned char)(velocity < 0 ? 0 : (velocity > 255 ? 255 : velocity));
        uint32_t u = uint32_t(counts);
        data[2] = (unsigned char)(u >> 24);
        data[3] = (unsigned char)(u >> 16);
        data[4] = (unsigned char)(u >> 8);
        data[5] = (unsigned char)u;
        data[6] = (unsigned char)messageCounter;
        data[7] = (unsigned char)outputBits[k];
        canInterface.WriteMessage(m.busId, 8, data);
        if (gapMS > 0) SleepMicroseconds(gapMS * 1000);
    }
    for (int d = 0; d < nrOfDIOModules; ++d) {
        int index = dioModuleIndex[d];
        if (index < 0) continue;
        unsigned char data[8] = {0x14, 0, 0, 0, 0, 0, (unsigned char)messageCounter,
                                 (unsigned char)(outputBits[index] | dioOutputBits[d])};
        canInterface.WriteMessage(modules[index].busId, 8, data);
        if (gapMS > 0) SleepMicroseconds(gapMS * 1000);
    }

    int valid = 0;
    int count = jointModules + nrOfDIOModules;
    freshAnswer = false;
    for (k = 0; k < count; ++k)
        if (ReadAnswer(k)) valid++;
    silentCycles = valid == 0 ? silentCycles + 1 : 0;
    if (freshAnswer && !modulesAnswering.load()) {
        modulesAnswering = true;
        // A bus that answers again is logged again.
        quiet = false;
        canInterface.SetQuiet(false);
    }
    cycleCounter++;

    if (cycleCounter % 10 == 0) {
        bool all = true;
        for (int j = 0; j < nrOfJoints; ++j) all = all && modules[j].referenced;
        if (all != allJointsReferenced.load()) {
            allJointsReferenced = all;
            log->add(all ? "VKTVCAN2 protocol: robot is referenced now" : "VKTVCAN2 protocol: robot is NOT referenced");
        }
    }
    if (cycleCounter > 100) {
        cycleCounter = 0;
        for (k = 0; k < jointModules; ++k) ReadTemperature(k);
    }
    ReadSupply();
    ReadShutdownMessage();
}

bool HardwareProtocolVKTCANV2::ReadAnswer(int index) {
    Module& m = modules[index];
    int id = int(m.busId) + 1;
    int length = 0;
    unsigned char data[8] = {0};
    long sequence = -1;
    // No answer slot exists above identifier 255: such a module never answers.
    long age = id <= 255 ? canInterface.GetLastMessage(id, &length, data, &sequence) : 2147483647L;
    if (sequence > answerSequence[index]) {
        answerSequence[index] = sequence;
        freshAnswer = true;
    }
    if (id <= 255 && sequence < 0) {
        // The adapter went down during this cycle: its table is unreadable, the bus is dead.
        m.errorCode = 0x100;
        m.motorState = 0;
        DecodeModuleError(m);
        return false;
    }
    if (age > lateAge) {
        if (!m.lateReported) {
            LogSingleton::instance()->add("Late CAN message: ", int(age > 2147483647L ? 2147483647L : age));
            m.lateReported = true;
        }
    } else {
        m.lateReported = false;
    }
    if (age > deadAge) {
        m.errorCode = canInterface.GetState() == "ok" ? 0x200 : 0x100;
        m.motorState = 0;
        DecodeModuleError(m);
        return false;
    }
    m.errorCode = data[0];
    DecodeModuleError(m);
    int32_t counts = int32_t((uint32_t(data[1]) << 24) | (uint32_t(data[2]) << 16) | (uint32_t(data[3]) << 8) |
                             uint32_t(data[4]));
    if (m.gearScale != 0.0f) m.measuredPosition = float((double(counts) - double(m.gearZero)) / double(m.gearScale));
    m.measuredCurrent = float(data[6]);
    m.motorState = data[0] == 0 ? 1 : 0;
    m.digitalInputs = data[7];
    m.referenced = (data[7] & 0x80) != 0;
    return true;
}

void HardwareProtocolVKTCANV2::ReadTemperature(int index) {
    Module& m = modules[index];
    int id = int(m.busId) + 3;
    if (id > 255) {
        m.temperature = -1.0f;
        return;
    }
    int length = 0;
    unsigned char data[8] = {0};
    long sequence = -1;
    canInterface.GetLastMessage(id, &length, data, &sequence);
    if (sequence < 0) return;  // adapter not connected: keep the last value
    if (data[0] == 0x12)
        m.temperature = float((data[6] * 256 + data[7]) * 0.3125 - 25.6);
    else
        m.temperature = -1.0f;
}

void HardwareProtocolVKTCANV2::ReadSupply() {
    int length = 0;
    unsigned char data[8] = {0};
    long sequence = -1;
    canInterface.GetLastMessage(supplyId, &length, data, &sequence);
    if (sequence < 0) return;  // adapter not connected: keep the last values
    supply = (data[2] * 256 + data[3]) * 10;
    currentAll = (data[4] * 256 + data[5]) - 3300;
    emergencyStop = ((data[6] >> 7) & 1) + 2 * ((data[7] >> 7) & 1);
}

void HardwareProtocolVKTCANV2::ReadShutdownMessage() {
    if (shutdownCountdown > 0) shutdownCountdown--;
    int length = 0;
    unsigned char data[8] = {0};
    long sequence = -1;
    long age = canInterface.GetLastMessage(shutdownId, &length, data, &sequence);
    if (sequence < 0) return;  // adapter not connected
    // Each request frame is acted upon once, however many cycles it stays the newest.
    if (sequence == lastShutdownSequence) return;
    lastShutdownSequence = sequence;
    if (age > 500 || age < 0) return;
    if (data[0] != 0x01 || data[2] != 'q') return;
    LogSingleton* log = LogSingleton::instance();
    if (data[1] == 0x0C) {
        shutdownCountdown = 100;
        shutdownStage = 1;
        log->add("ProtocolVKTCANV2: Shutdown request stage 1 ", int(age));
    } else if (data[1] == 0x29 && shutdownCountdown > 0 && shutdownStage == 1) {
        shutdownRequest = 1;
        shutdownStage = 0;
        log->add("ProtocolVKTCANV2: Shutdown request stage 2 final", int(age));
    } else {
        log->add("ProtocolVKTCANV2: Shutdown request - error in sequence");
    }
}

void HardwareProtocolVKTCANV2::GetJoints(DataTypes::RobotState* state) {
    if (state == nullptr) return;
    int k = 0;
    for (int i = 0; i < nrOfJoints; ++i) state->jointCurrent[i] = modules[k++].measuredPosition;
    for (int i = 0; i < nrOfGripperJoints; ++i) state->gripperCurrent[i] = modules[k++].measuredPosition;
    for (int i = 0; i < nrOfPlatformJoints; ++i) state->platformCurrent[i] = modules[k++].measuredPosition;
}
