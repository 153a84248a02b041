#include "PkgHardware/HardwareProtocolVKTCANV2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "LogSingleton.h"
#include "PkgHardware/RecordingProtocol.h"
#include "support/TempDir.h"

namespace {

using Frame = CANInterfacePHYTEC::Frame;

std::string RobotFile(int joints, const std::string& referencing = "<Referencing Mandatory=\"false\"/>") {
    std::string xml = "<Robot>\n<BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\" GapMS=\"0\">\n";
    xml += "<Joints NrOfJoints=\"" + std::to_string(joints) + "\"/>\n";
    for (int i = 0; i < joints; ++i)
        xml += "<Joint" + std::to_string(i) + " ID=\"" + std::to_string(0x10 * (i + 1)) +
               "\" GearScale=\"190\" GearZero=\"0\"/>\n";
    xml += "</BusConfiguration>\n" + referencing + "\n</Robot>\n";
    return xml;
}

// The protocol with its adapter's clock at `now`.
class TestV2 : public RecordingProtocol<HardwareProtocolVKTCANV2> {
public:
    timespec now{5000, 0};

    void Attach() {
        canInterface.SetClock([this] { return now; });
        RecordingProtocol::Attach();
    }
    void Advance(long ms) {
        now.tv_nsec += (ms % 1000) * 1000000;
        now.tv_sec += ms / 1000 + now.tv_nsec / 1000000000;
        now.tv_nsec %= 1000000000;
    }
};

class V2Test : public ::testing::Test {
protected:
    void SetUp() override { Build(3); }
    void Build(int joints) {
        std::string path = dir.Write("robot" + std::to_string(joints) + ".xml", RobotFile(joints));
        p.Init("rob", "type", path);
        p.Attach();
        p.Connect();
        state.jointSetPoint[0] = 10.5f;
    }
    // Healthy answers and a healthy supply for every arm joint.
    void AllHealthy(unsigned char inputs = 0x80) {
        for (int k = 0; k < p.nrOfJoints; ++k) p.Answer(p.modules[k].busId, {0, 0, 0, 0, 0, 0, 7, inputs});
        p.Raw(6, {0, 0, 0x09, 0x60, 0x0C, 0xE4, 0x80, 0x80});  // 24000 mV, 0 mA, no emergency stop
    }
    TempDir dir;
    TestV2 p;
    DataTypes::RobotState state;
};

}  // namespace

TEST_F(V2Test, PositionFramesCarryCountsCounterAndOutputs) {
    state.jointSetPoint[1] = -0.01f;
    state.jointSetPoint[2] = 0.0f;
    p.SetIO(2, 5, true);
    p.SetJoints(state);
    ASSERT_EQ(p.sent.size(), 3u);
    EXPECT_EQ(FrameText(p.sent[0]), "0x10/8: 14 80 00 00 07 cb 01 00");
    EXPECT_EQ(FrameText(p.sent[1]), "0x20/8: 14 80 ff ff ff ff 01 00");
    EXPECT_EQ(FrameText(p.sent[2]), "0x30/8: 14 80 00 00 00 00 01 20");
    EXPECT_FLOAT_EQ(p.modules[0].setPoint, 10.5f);
}

TEST_F(V2Test, MessageCounterWrapsAfter254) {
    std::vector<int> counters;
    for (int i = 0; i < 256; ++i) {
        p.sent.clear();
        p.SetJoints(state);
        ASSERT_FALSE(p.sent.empty());
        counters.push_back(p.sent[0].data[6]);
        for (const Frame& f : p.sent) EXPECT_EQ(f.data[6], counters.back());
    }
    EXPECT_EQ(counters[0], 1);
    EXPECT_EQ(counters[253], 254);
    EXPECT_EQ(counters[254], 0);
    EXPECT_EQ(counters[255], 1);
}

TEST_F(V2Test, NonFiniteSetPointRepeatsTheLastPosition) {
    p.SetJoints(state);
    state.jointSetPoint[0] = std::nanf("");
    testing::internal::CaptureStderr();
    p.sent.clear();
    p.SetJoints(state);
    p.SetJoints(state);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(p.sent[0].data[5], 0xCB);
    EXPECT_EQ(p.sent[3].data[5], 0xCB);
    EXPECT_NE(err.find("invalid set-point for module 0"), std::string::npos);
    EXPECT_EQ(err.find("invalid set-point", err.find("invalid set-point") + 1), std::string::npos) << "once only";
}

TEST_F(V2Test, AnswersAreDecoded) {
    AllHealthy();
    // counts 1995 with gear scale 190 = 10.5 degrees; current 0x33; inputs 0x85 (referenced)
    p.Answer(0x10, {0x00, 0x00, 0x00, 0x07, 0xCB, 0x00, 0x33, 0x85});
    p.Answer(0x20, {0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00});
    p.SetJoints(state);
    EXPECT_FLOAT_EQ(p.modules[0].measuredPosition, 10.5f);
    EXPECT_FLOAT_EQ(p.modules[0].measuredCurrent, 51.0f);
    EXPECT_EQ(p.modules[0].digitalInputs, 0x85);
    EXPECT_TRUE(p.modules[0].referenced);
    EXPECT_EQ(p.modules[0].motorState, 1);
    EXPECT_EQ(p.modules[0].errorShort, "NoError");
    EXPECT_NEAR(p.modules[1].measuredPosition, -1.0f / 190.0f, 1e-7);
    EXPECT_EQ(p.modules[1].errorCode, 0x05);
    EXPECT_EQ(p.modules[1].errorShort, "ESTOP_MNE");
    EXPECT_EQ(p.modules[1].motorState, 0);
    EXPECT_FALSE(p.modules[1].referenced);
    EXPECT_FALSE(p.GetMotorEnabled());

    std::string text;
    std::string shortText;
    p.DecodeErrorCode(0x05, &text, &shortText);
    EXPECT_EQ(text, " - emergency stop - motor not enabled");
    EXPECT_EQ(shortText, "ESTOP_MNE");
    p.DecodeErrorCode(0x3FF, &text, &shortText);
    EXPECT_EQ(shortText, "ESTOP_LOWV_MNE_COM_LAG_ENC_OC_GEN_BUS_DEAD");

    DataTypes::RobotState read;
    p.GetJoints(&read);
    EXPECT_FLOAT_EQ(read.jointCurrent[0], 10.5f);
    int codes[16] = {0};
    p.GetErrorHexCode(codes);
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 5);
    int currents[16] = {0};
    p.GetCurrentValues(currents);
    EXPECT_EQ(currents[0], 51);
    bool referenced[16] = {false};
    int all = -1;
    p.GetReferenceStatus(referenced, &all);
    EXPECT_TRUE(referenced[0]);
    EXPECT_FALSE(referenced[1]);
    EXPECT_EQ(all, 0);
}

TEST_F(V2Test, ErrorStatusCombinesModulesSupplyAndEmergencyStop) {
    AllHealthy();
    p.SetJoints(state);
    EXPECT_EQ(p.supply.load(), 24000);
    EXPECT_EQ(p.currentAll.load(), 0);
    EXPECT_EQ(p.emergencyStop.load(), 3);
    EXPECT_EQ(p.GetErrorShort(), "NoError");
    EXPECT_EQ(p.GetError(), "Status: no error");
    EXPECT_TRUE(p.GetMotorEnabled());

    // Emergency stop state 1 while every module is fine.
    p.Raw(6, {0, 0, 0x09, 0x60, 0x0C, 0xE4, 0x80, 0x00});
    p.SetJoints(state);
    EXPECT_EQ(p.emergencyStop.load(), 1);
    EXPECT_EQ(p.GetErrorShort().rfind("ESTOP", 0), 0u);

    // Low supply: 19990 mV.
    p.Raw(6, {0, 0, 0x07, 0xCF, 0x0D, 0xE4, 0x80, 0x80});
    p.SetJoints(state);
    EXPECT_EQ(p.supply.load(), 19990);
    EXPECT_EQ(p.currentAll.load(), 256);
    EXPECT_EQ(p.GetErrorShort(), "_LOWV");
}

TEST_F(V2Test, StatusLedFollowsTheStatusChanges) {
    AllHealthy();
    p.SetJoints(state);
    p.sent.clear();
    p.GetErrorShort();
    p.GetErrorShort();  // unchanged: no second frame
    auto led = p.SentTo(1);
    ASSERT_EQ(led.size(), 1u);
    const unsigned char green[8] = {0x01, 0x30, 0x00, 0, 150, 0, 0, 0};
    EXPECT_EQ(std::memcmp(led[0].data, green, 8), 0);

    p.Answer(0x10, {0x04});
    p.SetJoints(state);
    p.sent.clear();
    EXPECT_EQ(p.GetErrorShort(), "_MNE");
    led = p.SentTo(1);
    ASSERT_EQ(led.size(), 1u);
    EXPECT_EQ(led[0].data[3], 220);
    EXPECT_EQ(led[0].data[4], 95);

    p.Answer(0x10, {0x14});
    p.SetJoints(state);
    p.sent.clear();
    p.GetErrorShort();
    led = p.SentTo(1);
    ASSERT_EQ(led.size(), 1u);
    EXPECT_EQ(led[0].data[3], 150);
    EXPECT_EQ(led[0].data[4], 0);
}

TEST_F(V2Test, StatusTextsFollowEveryChangeAndAreLoggedOncePerChange) {
    // The status and module texts are kept between cycles and rebuilt only when
    // a code changes: every change must still show, in both directions.
    LogSingleton* log = LogSingleton::instance();
    const uint64_t start = log->LineSequence();
    auto statusLines = [&]() {
        std::vector<std::string> out;
        for (const std::string& line : log->LinesSince(start))
            if (line.rfind("Status: ", 0) == 0) out.push_back(line);
        return out;
    };
    AllHealthy();
    for (int n = 0; n < 3; ++n) {
        p.SetJoints(state);
        EXPECT_EQ(p.GetErrorShort(), "NoError");
    }
    EXPECT_EQ(p.GetError(), "Status: no error");
    EXPECT_EQ(p.modules[1].errorShort, "NoError");

    p.Answer(0x20, {0x04});
    for (int n = 0; n < 2; ++n) {
        p.SetJoints(state);
        EXPECT_EQ(p.GetErrorShort(), "_MNE");
    }
    EXPECT_EQ(p.modules[1].errorShort, "_MNE");
    EXPECT_EQ(p.GetError(), "Status:  - motor not enabled");

    p.Answer(0x20, {0x00});
    p.SetJoints(state);
    EXPECT_EQ(p.modules[1].errorShort, "NoError");
    EXPECT_EQ(p.GetErrorShort(), "NoError");

    p.Disconnect();
    EXPECT_EQ(p.GetErrorShort(), "NotConnected");
    EXPECT_EQ(p.GetError(), "Status: not connected");

    const std::vector<std::string> expected = {"Status: no error", "Status:  - motor not enabled",
                                               "Status: no error", "Status: not connected"};
    EXPECT_EQ(statusLines(), expected);
}

TEST_F(V2Test, SilentModuleIsDeadAfterFiveSecondsAndTheBusIsDroppedAfterSilentCycles) {
    AllHealthy();
    p.SetJoints(state);
    EXPECT_EQ(p.modules[2].errorCode, 0);
    // Joints 0 and 1 keep answering; joint 2 falls silent. Late after 2 s and
    // 4 s of silence, dead only once its last answer is over 5 s old.
    testing::internal::CaptureStdout();
    for (int i = 0; i < 3; ++i) {
        p.Advance(2000);
        p.Answer(0x10, {0});
        p.Answer(0x20, {0});
        p.SetJoints(state);
        EXPECT_EQ(p.modules[2].errorCode, i < 2 ? 0 : 0x200) << (i + 1) * 2 << " s";
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.modules[2].errorCode, 0x200);
    EXPECT_EQ(p.modules[2].errorShort, "_DEAD");
    EXPECT_EQ(p.modules[2].motorState, 0);
    EXPECT_EQ(p.modules[0].errorCode, 0);
    // One "Late" line for the silent module, not one per cycle.
    size_t first = out.find("Late CAN message: ");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("Late CAN message: ", first + 1), std::string::npos) << out;
    EXPECT_EQ(p.GetErrorShort(), "_DEAD");

    // Everything silent: 101 cycles without a valid answer drop the bus. The
    // cycle only asks for the disconnect; whoever supervises the bus does it,
    // so the cycle never waits for the read thread.
    p.Advance(6000);
    for (int i = 0; i < 100; ++i) p.SetJoints(state);
    EXPECT_TRUE(p.GetConnectionStatus());
    p.SetJoints(state);
    EXPECT_EQ(p.silentCycles, 101);
    EXPECT_FALSE(p.GetConnectionStatus());
    EXPECT_EQ(p.silentCycles, 0);
    EXPECT_TRUE(p.disconnectRequest.load());
    EXPECT_TRUE(p.canInterface.IsConnected());
    p.Disconnect();
    EXPECT_FALSE(p.disconnectRequest.load());
    EXPECT_EQ(p.GetErrorShort(), "NotConnected");
    p.sent.clear();
    p.SetJoints(state);
    EXPECT_TRUE(p.sent.empty());
}

TEST_F(V2Test, AdapterLostDuringACycleMarksTheBusDead) {
    AllHealthy();
    p.Answer(0x10, {0, 0, 0, 0x07, 0xCB, 0, 7, 0x80});
    p.SetJoints(state);
    float before = p.modules[0].measuredPosition;
    ASSERT_FLOAT_EQ(before, 10.5f);
    int supply = p.supply.load();
    // The adapter goes down after the first frame of the next cycle.
    p.gapMS = 1;
    p.onSleep = [this] {
        if (p.canInterface.IsConnected()) p.canInterface.Disconnect();
    };
    p.SetJoints(state);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(p.modules[k].errorCode, 0x100) << k;
        EXPECT_EQ(p.modules[k].errorShort, "_BUS");
        EXPECT_EQ(p.modules[k].motorState, 0);
    }
    EXPECT_FLOAT_EQ(p.modules[0].measuredPosition, before);  // last measured value kept
    EXPECT_EQ(p.supply.load(), supply);
    EXPECT_EQ(p.sent.size(), 3u + 1u);  // three frames of the first cycle, one of the second
    EXPECT_EQ(p.GetErrorShort(), "NotConnected");
}

TEST_F(V2Test, ReferencingIsCheckedEveryTenCycles) {
    AllHealthy(0x00);
    for (int i = 0; i < 10; ++i) p.SetJoints(state);
    EXPECT_FALSE(p.allJointsReferenced.load());
    AllHealthy(0x80);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 9; ++i) p.SetJoints(state);
    EXPECT_FALSE(p.allJointsReferenced.load()) << "only every tenth cycle";
    p.SetJoints(state);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(p.allJointsReferenced.load());
    EXPECT_NE(out.find("VKTVCAN2 protocol: robot is referenced now"), std::string::npos);
    p.Answer(0x20, {0, 0, 0, 0, 0, 0, 0, 0x00});
    testing::internal::CaptureStdout();
    for (int i = 0; i < 10; ++i) p.SetJoints(state);
    out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(p.allJointsReferenced.load());
    EXPECT_NE(out.find("VKTVCAN2 protocol: robot is NOT referenced"), std::string::npos);
}

TEST_F(V2Test, TemperaturesAreRefreshedAfter101Cycles) {
    AllHealthy();
    p.Raw(0x10 + 3, {0x12, 0, 0, 0, 0, 0, 0x01, 0x00});  // 256 * 0.3125 - 25.6 = 54.4
    p.Raw(0x20 + 3, {0x11, 0, 0, 0, 0, 0, 0x01, 0x00});  // not a temperature message
    for (int i = 0; i < 100; ++i) p.SetJoints(state);
    float temps[16] = {0};
    p.GetTempValues(temps);
    EXPECT_FLOAT_EQ(temps[0], -1.0f);
    p.SetJoints(state);
    p.GetTempValues(temps);
    EXPECT_NEAR(temps[0], 54.4f, 1e-4);
    EXPECT_FLOAT_EQ(temps[1], -1.0f);
    EXPECT_FLOAT_EQ(temps[2], -1.0f);
    EXPECT_EQ(p.cycleCounter, 0);
}

TEST_F(V2Test, ShutdownRequestNeedsStageOneThenStageTwo) {
    AllHealthy();
    testing::internal::CaptureStdout();
    p.Raw(0xFF, {0x01, 0x29, 'q'});  // stage 2 without stage 1
    p.SetJoints(state);
    p.SetJoints(state);  // the same frame is not acted upon twice
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.shutdownRequest.load(), 0);
    size_t first = out.find("ProtocolVKTCANV2: Shutdown request - error in sequence");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("error in sequence", out.find("error in sequence") + 1), std::string::npos);

    testing::internal::CaptureStdout();
    p.Raw(0xFF, {0x01, 0x0C, 'q'});
    p.SetJoints(state);
    EXPECT_EQ(p.shutdownCountdown, 100);
    for (int i = 0; i < 50; ++i) p.SetJoints(state);
    EXPECT_EQ(p.shutdownRequest.load(), 0);
    p.Raw(0xFF, {0x01, 0x29, 'q'});
    p.SetJoints(state);
    p.SetJoints(state);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.shutdownRequest.load(), 1);
    EXPECT_NE(out.find("ProtocolVKTCANV2: Shutdown request stage 1  0"), std::string::npos) << out;
    EXPECT_NE(out.find("ProtocolVKTCANV2: Shutdown request stage 2 final 0"), std::string::npos) << out;
    EXPECT_EQ(out.find("error in sequence"), std::string::npos) << out;
}

TEST_F(V2Test, ShutdownStageTwoAfterTheCountdownIsRefused) {
    AllHealthy();
    p.Raw(0xFF, {0x01, 0x0C, 'q'});
    p.SetJoints(state);
    for (int i = 0; i < 100; ++i) p.SetJoints(state);
    EXPECT_EQ(p.shutdownCountdown, 0);
    p.Raw(0xFF, {0x01, 0x29, 'q'});
    p.SetJoints(state);
    EXPECT_EQ(p.shutdownRequest.load(), 0);
    // An old frame (over 50 ms) is ignored, a frame of another kind is no request.
    p.Raw(0xFF, {0x01, 0x0C, 'q'});
    p.Advance(60);
    p.SetJoints(state);
    EXPECT_EQ(p.shutdownCountdown, 0);
    p.Raw(0xFF, {0x02, 0x0C, 'q'});
    p.SetJoints(state);
    EXPECT_EQ(p.shutdownCountdown, 0);
}

TEST_F(V2Test, CommandsSendTheirFramesWithCyclicExchangeRestored) {
    p.InitTool(1, 0x70, -10.0f, 210.0f);
    p.InitPlatform(4);
    p.InitDIOModules(0x90);
    ASSERT_EQ(p.nrOfModulesTotal, 3 + 1 + 4 + 1);
    p.sent.clear();
    p.EnableMotors(true);
    ASSERT_EQ(p.sent.size(), 9u);
    const int ids[9] = {0x10, 0x20, 0x30, 0x70, 0xA0, 0xB0, 0xC0, 0xD0, 0x90};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(p.sent[size_t(k)].id, ids[k]);
        EXPECT_EQ(p.sent[size_t(k)].length, 2);
        EXPECT_EQ(p.sent[size_t(k)].data[0], 0x01);
        EXPECT_EQ(p.sent[size_t(k)].data[1], 0x09);
    }
    EXPECT_EQ(p.slept, 9 * 2000);
    EXPECT_TRUE(p.cyclicExchange.load());

    p.sent.clear();
    p.EnableMotors(false);
    EXPECT_EQ(p.sent[0].data[1], 0x0A);
    p.sent.clear();
    p.ResetError();
    EXPECT_EQ(p.sent.size(), 9u);
    EXPECT_EQ(p.sent[8].data[1], 0x06);

    p.sent.clear();
    p.ReferenceSingleJoint(1);
    ASSERT_EQ(p.sent.size(), 2u);
    EXPECT_EQ(p.sent[1].id, 0x20);
    EXPECT_EQ(p.sent[1].data[1], 0x0B);
    p.sent.clear();
    p.ReferenceSingleJoint(40);  // no such joint
    EXPECT_TRUE(p.sent.empty());

    p.sent.clear();
    p.slept = 0;
    p.AlignMotors();
    ASSERT_EQ(p.sent.size(), 6u);  // three arm joints, twice each
    const unsigned char align[8] = {0x01, 0x0C, 0x3C, 0x96, 0x64, 0x32, 0, 0};
    EXPECT_EQ(p.sent[0].length, 6);
    EXPECT_EQ(std::memcmp(p.sent[0].data, align, 8), 0);
    EXPECT_EQ(p.slept, 3 * (10000 + 2000000));

    p.sent.clear();
    p.SetToZeroPos(3);  // the gripper
    ASSERT_EQ(p.sent.size(), 2u);
    const unsigned char zero[8] = {0x01, 0x08, 0x7D, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(p.sent[0].id, 0x70);
    EXPECT_EQ(p.sent[0].length, 4);
    EXPECT_EQ(std::memcmp(p.sent[0].data, zero, 8), 0);
    p.sent.clear();
    p.SetToZeroPos(4);  // a platform joint: not through SetToZeroPos
    p.SetToZeroPos(-1);
    EXPECT_TRUE(p.sent.empty());
    p.SetPlatformJointsToZeroPos();
    ASSERT_EQ(p.sent.size(), 8u);
    EXPECT_EQ(p.sent[0].id, 0xA0);
    EXPECT_EQ(p.sent[7].id, 0xD0);
    EXPECT_TRUE(p.cyclicExchange.load());
}

TEST_F(V2Test, GripperPlatformAndIOModulesJoinTheCycle) {
    p.InitTool(1, 0x70, -10.0f, 210.0f);
    p.InitPlatform(4);
    p.InitDIOModules(0x90);
    p.InitDIOModules(0x94);
    state.gripperCurrent[0] = 35.0f;  // hardware position: 210 + 35 * -10 = -140
    state.platformSetPoint[1] = 2.0f;  // -500 * 2 = -1000
    p.SetRailIO(0, 3, true);
    p.SetRailIO(1, 7, true);  // bit 7 is not an output
    p.SetIO(8, 0, true);      // the first I/O module's own output bits
    p.sent.clear();
    p.SetJoints(state);
    ASSERT_EQ(p.sent.size(), 10u);
    EXPECT_EQ(p.sent[3].id, 0x70);
    int32_t grip = int32_t((uint32_t(p.sent[3].data[2]) << 24) | (uint32_t(p.sent[3].data[3]) << 16) |
                           (uint32_t(p.sent[3].data[4]) << 8) | p.sent[3].data[5]);
    EXPECT_EQ(grip, -140);
    int32_t wheel = int32_t((uint32_t(p.sent[5].data[2]) << 24) | (uint32_t(p.sent[5].data[3]) << 16) |
                            (uint32_t(p.sent[5].data[4]) << 8) | p.sent[5].data[5]);
    EXPECT_EQ(p.sent[5].id, 0xB0);
    EXPECT_EQ(wheel, -1000);
    const unsigned char io0[8] = {0x14, 0, 0, 0, 0, 0, 0x01, 0x09};
    const unsigned char io1[8] = {0x14, 0, 0, 0, 0, 0, 0x01, 0x00};
    EXPECT_EQ(p.sent[8].id, 0x90);
    EXPECT_EQ(std::memcmp(p.sent[8].data, io0, 8), 0);
    EXPECT_EQ(p.sent[9].id, 0x94);
    EXPECT_EQ(std::memcmp(p.sent[9].data, io1, 8), 0);

    // Measured values flow back to gripper and platform; I/O inputs to the rail.
    p.Answer(0x70, {0, 0xFF, 0xFF, 0xFF, 0x74, 0, 0, 0});   // -140 counts
    p.Answer(0xC0, {0, 0x00, 0x00, 0x03, 0xE8, 0, 0, 0});   // 1000 counts / -500
    p.Answer(0x94, {0, 0, 0, 0, 0, 0, 0, 0xC5});
    p.SetJoints(state);
    DataTypes::RobotState read;
    p.GetJoints(&read);
    EXPECT_FLOAT_EQ(read.gripperCurrent[0], 35.0f);
    EXPECT_FLOAT_EQ(read.platformCurrent[2], -2.0f);
    bool inputs[64] = {false};
    p.GetDigitalIORail(inputs);
    EXPECT_TRUE(inputs[30]);
    EXPECT_FALSE(inputs[31]);
    EXPECT_TRUE(inputs[32]);
    EXPECT_TRUE(inputs[36]);
    for (int i = 40; i < 64; ++i) EXPECT_FALSE(inputs[i]) << i;
    int in = -1;
    p.GetDigitalIO(9, &in);
    EXPECT_EQ(in, 0xC5);
}

TEST_F(V2Test, FourthDIOModuleAndOutOfRangeCallsAreRefused) {
    p.InitDIOModules(0x90);
    p.InitDIOModules(0x94);
    p.InitDIOModules(0x98);
    Frame before[HardwareProtocol::maxModules];
    for (int k = 0; k < HardwareProtocol::maxModules; ++k) {
        before[k].id = p.modules[k].busId;
        before[k].length = p.modules[k].kind;
    }
    testing::internal::CaptureStderr();
    p.InitDIOModules(0x9C);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: Cannot add more than 3 DIO modules!"), std::string::npos);
    EXPECT_EQ(p.nrOfDIOModules, 3);
    EXPECT_EQ(p.nrOfModulesTotal, 6);
    for (int k = 0; k < HardwareProtocol::maxModules; ++k) {
        EXPECT_EQ(before[k].id, p.modules[k].busId);
        EXPECT_EQ(before[k].length, p.modules[k].kind);
    }

    int outputs[HardwareProtocol::maxModules];
    std::memcpy(outputs, p.outputBits, sizeof outputs);
    testing::internal::CaptureStderr();
    p.SetIO(16, 0, true);
    p.SetIO(-1, 0, true);
    p.SetIO(0, 8, true);
    p.SetRailIO(3, 0, true);
    p.SetRailIO(-1, 0, true);
    int in = 1234;
    p.GetDigitalIO(16, &in);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::memcmp(outputs, p.outputBits, sizeof outputs), 0);
    EXPECT_EQ(p.dioOutputBits[0] | p.dioOutputBits[1] | p.dioOutputBits[2], 0);
    EXPECT_EQ(in, 1234);
    size_t first = err.find("SetIO ignored");
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("SetIO ignored", first + 1), std::string::npos) << "reported once";
}

TEST_F(V2Test, NothingIsSentBeforeConnectOrWhileCommandsRun) {
    TestV2 q;
    q.Init("rob", "type", dir.Write("r.xml", RobotFile(2)));
    q.SetJoints(state);  // not connected
    EXPECT_TRUE(q.sent.empty());
    q.Attach();
    q.SetJoints(state);  // connected, but cyclic exchange only starts with Connect
    EXPECT_TRUE(q.sent.empty());
    q.Connect();
    q.SetJoints(state);
    EXPECT_EQ(q.sent.size(), 2u);
    q.cyclicExchange = false;
    q.SetJoints(state);
    EXPECT_EQ(q.sent.size(), 2u);
}
