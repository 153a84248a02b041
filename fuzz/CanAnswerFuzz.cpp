// Joint bus answers of both protocols: arbitrary frames land in the adapter's
// message table (any identifier, length, contents, arrival time) and the robot
// cycle decodes them, as it does once per cycle.
#include <cstdint>
#include <filesystem>
#include <string>

#include "PkgHardware/HardwareProtocolVKTCAN.h"
#include "PkgHardware/HardwareProtocolVKTCANV2.h"
#include "support/FuzzSupport.h"

namespace {

// The same four joints on either protocol; `tail` adds elements after the bus.
std::string RobotFile(const std::string& protocol, const std::string& tail) {
    return R"(<Robot>
<BusConfiguration Protocol=")" + protocol + R"(" CycleTimeMS="10" GapMS="0">
<Joints NrOfJoints="4"/>
<Joint0 ID="16" GearScale="190" GearZero="0"/>
<Joint1 ID="32" GearScale="-190" GearZero="100"/>
<Joint2 ID="48" GearScale="50" GearZero="0"/>
<Joint3 ID="64" GearScale="190" GearZero="-30"/>
</BusConfiguration>
)" + tail + "</Robot>\n";
}

// Both protocols without waiting and without a socket, on a clock the input drives.
template <class Protocol>
class Harness : public Protocol {
public:
    timespec now{5000, 0};
    void Attach() {
        this->canInterface.SetClock([this] { return now; });
        this->canInterface.ConnectToSink([](const CANInterfacePHYTEC::Frame&) {});
    }
    void Advance(long ms) {
        now.tv_nsec += (ms % 1000) * 1000000;
        now.tv_sec += ms / 1000 + now.tv_nsec / 1000000000;
        now.tv_nsec %= 1000000000;
    }

protected:
    void SleepMicroseconds(int) override {}
};

template <class Protocol>
void Run(Harness<Protocol>& p, FuzzSupport::Input& input) {
    p.Attach();
    p.Connect();
    DataTypes::RobotState state;
    for (int i = 0; i < DataTypes::RobotState::maxJoints; ++i) state.jointSetPoint[i] = float(i * 3);
    int frames = 0;
    // Each record: identifier, length, 8 data bytes, milliseconds to the next cycle.
    // 128 records reach 30 s of bus time, past every time-out of the protocols.
    while (input.Remaining() > 0 && frames++ < 128) {
        const int id = input.Byte();
        const int length = input.Byte() % 9;
        unsigned char bytes[8];
        for (unsigned char& b : bytes) b = input.Byte();
        p.canInterface.InjectFrame(id, length, bytes);
        p.Advance(input.Byte());
        p.GetJoints(&state);
        p.SetJoints(state);
        std::string text, shortText, perModule[HardwareProtocol::maxModules];
        p.GetError(&text, &shortText);
        p.GetError(perModule);
        int codes[HardwareProtocol::maxModules] = {0};
        p.GetErrorHexCode(codes);
        int currents[HardwareProtocol::maxModules] = {0};
        p.GetCurrentValues(currents);
        float temps[HardwareProtocol::maxModules] = {0};
        p.GetTempValues(temps);
        bool referenced[HardwareProtocol::maxModules] = {false};
        int all = 0;
        p.GetReferenceStatus(referenced, &all);
        int inputs[8] = {0};
        for (int module = 0; module < HardwareProtocol::maxDIOModules; ++module) p.GetDigitalIO(module, inputs);
        bool rail[DataTypes::RobotState::maxIO] = {false};
        p.GetDigitalIORail(rail);
        p.GetSupplyVoltage();
        p.GetMotorEnabled();
    }
    p.Disconnect();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string directory = FuzzSupport::TempDirectory() + "/";
    static const bool prepared =
        FuzzSupport::WriteFile(directory + "v1.xml", RobotFile("VKTCAN", "")) &&
        FuzzSupport::WriteFile(directory + "v2.xml", RobotFile("VKTCANV2", "<Referencing Mandatory=\"true\"/>\n"));
    (void)prepared;
    FuzzSupport::Input input(data, size);
    if (input.Byte() & 1) {
        Harness<HardwareProtocolVKTCAN> p;
        p.Init("fuzz", "FUZZ", directory + "v1.xml");
        Run(p, input);
    } else {
        Harness<HardwareProtocolVKTCANV2> p;
        p.Init("fuzz", "FUZZ", directory + "v2.xml");
        p.InitTool(1, 0x70, -10.0f, 210.0f);
        p.InitPlatform(4);
        p.InitDIOModules(0x90);
        p.InitDIOModules(0x94);
        Run(p, input);
    }
    return 0;
}
