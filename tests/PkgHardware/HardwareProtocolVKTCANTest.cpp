#include "PkgHardware/HardwareProtocolVKTCAN.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "PkgHardware/RecordingProtocol.h"
#include "support/TempDir.h"

namespace {

using Frame = CANInterfacePHYTEC::Frame;

using TestV1 = RecordingProtocol<HardwareProtocolVKTCAN>;

class V1Test : public ::testing::Test {
protected:
    void SetUp() override {
        std::string xml =
            "<Robot><BusConfiguration Protocol=\"VKTCAN\" CycleTimeMS=\"10\" GapMS=\"2\">"
            "<Joints NrOfJoints=\"3\"/>"
            "<Joint0 ID=\"16\" GearScale=\"190\" GearZero=\"32000\"/>"
            "<Joint1 ID=\"32\" GearScale=\"190\" GearZero=\"-1\"/>"
            "<Joint2 ID=\"48\" GearScale=\"100\" GearZero=\"32000\"/>"
            "</BusConfiguration></Robot>";
        p.Init("rob", "type", dir.Write("robot.xml", xml));
        p.Attach();
        p.Connect();
    }
    TempDir dir;
    TestV1 p;
    DataTypes::RobotState state;
};

}  // namespace

TEST(VKTCANDefaults, ConstructorAndInitDefaults) {
    HardwareProtocolVKTCAN p;
    EXPECT_EQ(p.nrOfJoints, 3);
    EXPECT_FALSE(p.GetConnectionStatus());
    EXPECT_EQ(p.GetErrorShort(), "NotConnected");
}

TEST_F(V1Test, PositionFramesUseSixteenBitCountsAndARunningCounter) {
    state.jointSetPoint[0] = 10.0f;  // 33900
    state.jointSetPoint[1] = 0.0f;   // gear zero -1: c = -1
    state.jointSetPoint[2] = 0.0f;
    p.SetIO(2, 1, true);
    p.SetIO(2, 4, true);  // bits above 3 are ignored
    p.SetJoints(state);
    ASSERT_EQ(p.sent.size(), 3u);
    EXPECT_EQ(FrameText(p.sent[0]), "0x10/6: 04 80 84 6c 00 00 00 00");
    EXPECT_EQ(FrameText(p.sent[1]), "0x20/6: 04 80 00 ff 01 00 00 00");
    EXPECT_EQ(FrameText(p.sent[2]), "0x30/6: 04 80 7d 00 02 02 00 00");
    EXPECT_EQ(p.slept, 3 * 2000);

    // The counter runs 0 ... 99 across the joints of successive cycles.
    for (int i = 0; i < 33; ++i) p.SetJoints(state);
    ASSERT_EQ(p.sent.size(), 102u);
    for (size_t i = 0; i < p.sent.size(); ++i) EXPECT_EQ(p.sent[i].data[4], i % 100) << i;
}

TEST_F(V1Test, AnswersAreDecodedWithTheV1ErrorTable) {
    p.Answer(16, {0x00, 130, 0x7D, 0x00, 0x21, 0, 0, 0x81});  // 32000 counts = 0 deg
    p.Answer(32, {0x05, 127, 0x00, 0xBD, 0x02, 0, 0, 0x00});  // 189 counts, gear zero -1: 1 deg
    p.Answer(48, {0x00, 127, 0x80, 0xE8, 0, 0, 0, 0x80});     // 33000: 10 deg at 100 counts/deg
    p.SetJoints(state);
    EXPECT_FLOAT_EQ(p.modules[0].measuredPosition, 0.0f);
    EXPECT_FLOAT_EQ(p.modules[0].measuredVelocity, 3.0f);
    EXPECT_FLOAT_EQ(p.modules[0].measuredCurrent, 33.0f);
    EXPECT_TRUE(p.modules[0].referenced);
    EXPECT_FLOAT_EQ(p.modules[1].measuredPosition, 1.0f);
    EXPECT_EQ(p.modules[1].errorShort, "BOWDMNE");
    EXPECT_EQ(p.modules[1].motorState, 0);
    EXPECT_FLOAT_EQ(p.modules[2].measuredPosition, 10.0f);
    EXPECT_FALSE(p.GetMotorEnabled());
    EXPECT_EQ(p.GetErrorShort(), "BOWDMNE");
    EXPECT_EQ(p.GetError(), "Status:  - brown out or watch dog - motor not enabled");
    // No status LED in this protocol.
    for (const Frame& f : p.sent) EXPECT_NE(f.id, 1);

    p.Answer(32, {0x00, 127, 0x00, 0xBD});
    p.SetJoints(state);
    EXPECT_TRUE(p.GetMotorEnabled());
    EXPECT_EQ(p.GetErrorShort(), "NoError");
    DataTypes::RobotState read;
    p.GetJoints(&read);
    EXPECT_FLOAT_EQ(read.jointCurrent[2], 10.0f);
    int codes[16] = {0};
    p.GetErrorHexCode(codes);
    EXPECT_EQ(codes[0] | codes[1] | codes[2], 0);

    std::string text;
    std::string shortText;
    p.DecodeErrorCode(0x3FF, &text, &shortText);
    EXPECT_EQ(shortText, "BOWDVLAGMNE_COM_LAG_ENC_OC_CAN_BUS_DEAD");
}

TEST_F(V1Test, CommandsReachTheArmJoints) {
    p.sent.clear();
    p.EnableMotors(true);
    ASSERT_EQ(p.sent.size(), 3u);
    EXPECT_EQ(p.sent[2].id, 48);
    EXPECT_EQ(p.sent[2].data[1], 0x09);
    p.sent.clear();
    p.slept = 0;
    p.ResetError();
    ASSERT_EQ(p.sent.size(), 3u);
    EXPECT_EQ(p.sent[0].data[1], 0x06);
    EXPECT_EQ(p.slept, 3 * 500);
    p.sent.clear();
    p.SetToZeroPos(1);
    ASSERT_EQ(p.sent.size(), 2u);
    EXPECT_EQ(p.sent[0].id, 32);
    EXPECT_EQ(p.sent[0].length, 4);
    EXPECT_EQ(p.sent[0].data[2], 0x7D);
    p.sent.clear();
    p.SetToZeroPos(3);
    p.SetToZeroPos(-2);
    EXPECT_TRUE(p.sent.empty());
    EXPECT_TRUE(p.cyclicExchange.load());
    // Operations V1 does not offer keep the base behaviour.
    p.AlignMotors();
    p.ReferenceSingleJoint(0);
    EXPECT_TRUE(p.sent.empty());
}

TEST_F(V1Test, StatusTextsFollowEveryChangeOfTheAnswers) {
    // Texts are kept between cycles and rebuilt only when a code changes.
    auto answerAll = [this](unsigned char second) {
        p.Answer(16, {0x00, 127, 0x7D, 0x00, 0, 0, 0, 0x80});
        p.Answer(32, {second, 127, 0x7D, 0x00, 0, 0, 0, 0x80});
        p.Answer(48, {0x00, 127, 0x7D, 0x00, 0, 0, 0, 0x80});
        p.SetJoints(state);
    };
    answerAll(0x00);
    EXPECT_EQ(p.GetErrorShort(), "NoError");
    EXPECT_EQ(p.modules[1].errorShort, "NoError");
    answerAll(0x05);
    EXPECT_EQ(p.GetErrorShort(), "BOWDMNE");
    EXPECT_EQ(p.modules[1].errorShort, "BOWDMNE");
    answerAll(0x05);
    EXPECT_EQ(p.GetError(), "Status:  - brown out or watch dog - motor not enabled");
    answerAll(0x00);
    EXPECT_EQ(p.GetErrorShort(), "NoError");
    EXPECT_EQ(p.modules[1].errorShort, "NoError");
    EXPECT_EQ(p.GetError(), "Status: no error");
    p.Disconnect();
    EXPECT_EQ(p.GetErrorShort(), "NotConnected");
    EXPECT_EQ(p.GetError(), "Status: not connected");
}
