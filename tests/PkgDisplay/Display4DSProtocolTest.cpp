#include "PkgDisplay/Display4DSProtocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "PkgDisplay/FrameAssembler.h"

using P = Display4DSProtocol;

namespace {
bool noOutputs[DataTypes::RobotState::maxIO] = {};

unsigned U16(const std::array<uint8_t, P::positionFrameSize>& f, int at) {
    return (unsigned(f[size_t(at)]) << 8) | f[size_t(at + 1)];
}
}  // namespace

TEST(Display4DSInput, AxisDeadBandAndLimits) {
    EXPECT_EQ(P::AxisValue(150), 2);
    EXPECT_EQ(P::AxisValue(148), 0);
    EXPECT_EQ(P::AxisValue(100), -8);
    EXPECT_EQ(P::AxisValue(255), 100);
    EXPECT_EQ(P::AxisValue(0), -100);
    EXPECT_EQ(P::AxisValue(128), 0);
    // The dead band ends at +-19 around the centre.
    EXPECT_EQ(P::AxisValue(109), 0);
    EXPECT_EQ(P::AxisValue(108), 0);
    EXPECT_EQ(P::AxisValue(107), -1);
    EXPECT_EQ(P::AxisValue(147), 0);
    EXPECT_EQ(P::AxisValue(149), 1);
    EXPECT_EQ(P::AxisValue(8), -100);
    EXPECT_EQ(P::AxisValue(9), -99);
}

TEST(Display4DSInput, ModeMappings) {
    // Axis i gives the value 10 * (i + 1) after the dead band.
    uint8_t axes[P::axisCount];
    for (int i = 0; i < P::axisCount; ++i) axes[i] = uint8_t(148 + 10 * (i + 1));
    float jog[P::jogCount];

    P::MapJogValues(0, axes, jog);
    const float mode0[] = {-10, -20, 30, 40, -50, 60, 70, 80, 90};
    for (int i = 0; i < P::jogCount; ++i) EXPECT_FLOAT_EQ(jog[i], mode0[i]) << "mode 0 jog " << i;
    P::MapJogValues(1, axes, jog);
    for (int i = 0; i < P::jogCount; ++i) EXPECT_FLOAT_EQ(jog[i], mode0[i]) << "mode 1 jog " << i;

    const float mode2[] = {-20, 30, -10, 40, -50, 60, 70, 80, 90};
    for (int mode = 2; mode <= 5; ++mode) {
        P::MapJogValues(mode, axes, jog);
        for (int i = 0; i < P::jogCount; ++i) EXPECT_FLOAT_EQ(jog[i], mode2[i]) << "mode " << mode << " jog " << i;
    }

    P::MapJogValues(7, axes, jog);
    const float mode7[] = {-20, -10, -30, 0, 0, 0, 70, 80, 90};
    for (int i = 0; i < P::jogCount; ++i) EXPECT_FLOAT_EQ(jog[i], mode7[i]) << "mode 7 jog " << i;

    for (int mode : {6, 8, 255}) {
        P::MapJogValues(mode, axes, jog);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(jog[i], 0.0f) << "mode " << mode;
        EXPECT_FLOAT_EQ(jog[6], 70);
    }
}

TEST(Display4DSInput, KeyCodeTable) {
    const std::vector<std::pair<int, int>> table = {
        {0x1E, 10}, {0x28, 13}, {0x32, 11}, {0x3C, 33}, {0x4F, 16}, {0x50, 61}, {0x51, 3},  {0x52, 4},
        {0x53, 62}, {0x55, 7},  {0x56, 8},  {0x57, 9},  {0x5A, 5},  {0x5B, 52}, {0x5C, 50}, {0x5D, 54},
        {0x5E, 55}, {0x5F, 83}, {0x60, 56}, {0x61, 57}, {0x64, 80}, {0x65, 81}, {0x66, 82}, {0x67, 84},
        {0x0A, 21}, {0x0B, 21}, {0x0C, 22}, {0x0D, 22}, {0x0E, 23}, {0x0F, 23}, {0x11, 24}};
    for (const auto& [code, command] : table) {
        const auto action = P::DecodeKey(uint8_t(code), noOutputs);
        EXPECT_EQ(action.command, command) << "key " << code;
        EXPECT_EQ(action.takeOverride, code == 0x3C) << "key " << code;
    }
    for (int code = 0x46; code <= 0x4B; ++code) {
        const auto action = P::DecodeKey(uint8_t(code), noOutputs);
        EXPECT_EQ(action.command, 15);
        EXPECT_EQ(action.parameter, code - 0x46);
    }
    for (int code : {0x00, 0x10, 0x12, 0x1F, 0x45, 0x4C, 0x54, 0x58, 0x62, 0x68, 0x77, 0xB8, 0xFF})
        EXPECT_EQ(P::DecodeKey(uint8_t(code), noOutputs).command, 0) << "key " << code;
}

TEST(Display4DSInput, DigitalOutputKeysToggle) {
    bool outputs[DataTypes::RobotState::maxIO] = {};
    auto action = P::DecodeKey(0x7A, outputs);
    EXPECT_EQ(action.command, 31);
    EXPECT_EQ(action.parameter, 2);
    outputs[2] = true;
    action = P::DecodeKey(0x7A, outputs);
    EXPECT_EQ(action.command, 32);
    EXPECT_EQ(action.parameter, 2);
    // The last output of the 64; beyond it the codes mean nothing.
    outputs[63] = true;
    action = P::DecodeKey(0xB7, outputs);
    EXPECT_EQ(action.command, 32);
    EXPECT_EQ(action.parameter, 63);
    EXPECT_EQ(P::DecodeKey(0x78, outputs).parameter, 0);
}

TEST(Display4DSInput, InputFrameRoundTripAndRejects) {
    P::InputFrame in;
    in.mode = 7;
    in.override = 55;
    in.keyCode = 0x50;
    for (int i = 0; i < P::axisCount; ++i) in.axes[i] = uint8_t(i * 20);
    const auto bytes = P::EncodeInput(in);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[3], 7);
    EXPECT_EQ(bytes[4], 55);
    EXPECT_EQ(bytes[5], 0);
    EXPECT_EQ(bytes[13], 160);
    EXPECT_EQ(bytes[14], 0x50);
    P::InputFrame out;
    ASSERT_TRUE(P::DecodeInput(bytes.data(), bytes.size(), &out));
    EXPECT_EQ(out.mode, 7);
    EXPECT_EQ(out.override, 55);
    EXPECT_EQ(out.keyCode, 0x50);
    EXPECT_EQ(out.axes[8], 160);

    EXPECT_FALSE(P::DecodeInput(bytes.data(), 16, &out));
    auto wrong = bytes;
    wrong[1] = 0x01;
    EXPECT_FALSE(P::DecodeInput(wrong.data(), wrong.size(), &out));
    wrong = bytes;
    wrong[0] = 0xFE;
    EXPECT_FALSE(P::DecodeInput(wrong.data(), wrong.size(), &out));
}

namespace {

// A text frame as the panel reads it: FF, kind, length code, the padded text, 42, FF.
std::vector<uint8_t> TextFrame(uint8_t kind, uint8_t length, const std::string& text) {
    const std::string frame = std::string{char(0xFF), char(kind), char(length)} + text + "\x42\xFF";
    return std::vector<uint8_t>(frame.begin(), frame.end());
}

template <size_t N>
std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& frame) {
    return std::vector<uint8_t>(frame.begin(), frame.end());
}

}  // namespace

TEST(Display4DSOutput, MessageAndFilenameFrames) {
    const auto msg = P::EncodeMessage("Starting Program");
    EXPECT_EQ(Bytes(msg), TextFrame(0x02, 0x22, "Starting Program                 "));

    // Too long is cut; bytes the panel cannot show (0xFF would look like a frame start) become '?'.
    const auto longMsg = P::EncodeMessage(std::string(40, 'x') + "tail");
    EXPECT_EQ(std::string(longMsg.begin() + 3, longMsg.begin() + 36), std::string(33, 'x'));
    const auto odd = P::EncodeMessage(std::string("a\xff" "b\n", 4));
    EXPECT_EQ(std::string(odd.begin() + 3, odd.begin() + 7), "a?b?");

    const auto file = P::EncodeFilename("pick.xml");
    EXPECT_EQ(Bytes(file), TextFrame(0x01, 0x14, "pick.xml            "));

    std::string text;
    ASSERT_TRUE(P::DecodeText(msg.data(), msg.size(), &text));
    EXPECT_EQ(text, "Starting Program");
    ASSERT_TRUE(P::DecodeText(file.data(), file.size(), &text));
    EXPECT_EQ(text, "pick.xml");
}

TEST(Display4DSOutput, PositionFrameJointGroups) {
    DataTypes::RobotState s;
    s.jointSetPoint[0] = 12.34f;
    s.jointSetPoint[1] = -12.34f;
    s.jointSetPoint[2] = 0.7f;
    s.jointSetPoint[3] = -400.0f;  // below what the encoding holds
    s.jointSetPoint[4] = 1e9f;
    s.jointSetPoint[5] = std::numeric_limits<float>::quiet_NaN();
    s.jointSetPoint[8] = 90.0f;
    s.jointError[0] = 0x1234;
    s.jointTemperature[0] = 41.9f;
    s.jointTemperature[1] = -5.0f;
    s.platformSetPoint[0] = 5.5f;
    s.platformSetPoint[3] = -1.0f;
    P::PositionExtras extras;

    auto f = P::EncodePosition(s, extras);
    ASSERT_EQ(f.size(), 103u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0x00);
    EXPECT_EQ(f[2], 0x1C);
    EXPECT_EQ(U16(f, 3), 3723u);  // 123 tenths + 3600, high byte first
    EXPECT_EQ(f[3], 0x0E);
    EXPECT_EQ(f[4], 0x8B);
    EXPECT_EQ(f[5], 0x34);        // low byte of the error
    EXPECT_EQ(f[6], 41);          // temperature as an integer
    EXPECT_EQ(U16(f, 7), 3477u);  // truncated toward zero: -123
    EXPECT_EQ(f[10], 0xFB);       // -5 as a byte
    EXPECT_EQ(U16(f, 11), 3607u);
    EXPECT_EQ(U16(f, 15), 0u);       // pinned, not wrapped
    EXPECT_EQ(U16(f, 19), 65535u);
    EXPECT_EQ(U16(f, 23), 3600u);    // NaN shows as 0
    EXPECT_EQ(U16(f, 35), 4500u);

    extras.mode = 7;
    f = P::EncodePosition(s, extras);
    EXPECT_EQ(U16(f, 3), 3655u);   // platform value 0
    EXPECT_EQ(U16(f, 7), 3600u);
    EXPECT_EQ(U16(f, 15), 3590u);  // platform value 3
    EXPECT_EQ(U16(f, 19), 65535u); // group 4 is joint 4 again
    EXPECT_EQ(f[5], 0x34);
}

TEST(Display4DSOutput, PositionFrameStatusBytesRoundTrip) {
    DataTypes::RobotState s;
    s.kinState = 22;
    s.emergencyStop = 1;
    s.referenceState = 3;
    s.jointReferenced[0] = true;
    s.jointReferenced[5] = true;
    s.jointReferenced[15] = true;
    s.programStatus[0] = -1;
    s.programStatus[1] = 300;
    s.programStatus[2] = 2;
    s.override = 40.9f;
    s.gripperSetPoint[0] = 75.0f;
    s.digitalIn[0] = true;
    s.digitalIn[9] = true;
    s.digitalOut[63] = true;
    P::PositionExtras extras;
    extras.monitoredCurrent = 1237.8f;
    extras.monitoredSupply = 24.0f;
    extras.statusText = "JointError 3";

    const auto f = P::EncodePosition(s, extras);
    EXPECT_EQ(U16(f, 39), 1230u);  // rounded down to tens
    EXPECT_EQ(U16(f, 41), 24u);
    EXPECT_EQ(f[43], 22);
    EXPECT_EQ(f[55], 0x01);  // input 1
    EXPECT_EQ(f[56], 0x02);  // input 10
    EXPECT_EQ(f[70], 0x80);  // output 64
    EXPECT_EQ(std::string(f.begin() + 71, f.begin() + 101), "JointError 3                  ");
    EXPECT_EQ(f[101], 0x42);
    EXPECT_EQ(f[102], 0xFF);

    P::PositionFrame d;
    ASSERT_TRUE(P::DecodePosition(f.data(), f.size(), &d));
    EXPECT_EQ(d.currentAll, 1230);
    EXPECT_EQ(d.supply, 24);
    EXPECT_EQ(d.kinState, 22);
    EXPECT_EQ(d.emergencyStop, 1);
    EXPECT_EQ(d.referenceState, 3);
    EXPECT_EQ(d.referencedBits, 0x8021);
    EXPECT_EQ(d.programPoint, -1);
    EXPECT_EQ(d.programCount, 300);
    EXPECT_EQ(d.programRunning, 2);
    EXPECT_EQ(d.override, 40);
    EXPECT_EQ(d.gripper, 75);
    EXPECT_EQ(d.digitalIn, (1ull << 0) | (1ull << 9));
    EXPECT_EQ(d.digitalOut, 1ull << 63);
    EXPECT_EQ(d.text, "JointError 3");

    // Negative or huge monitored values stay inside their 16 bits.
    extras.monitoredCurrent = -50.0f;
    extras.monitoredSupply = 1e7f;
    const auto g = P::EncodePosition(s, extras);
    EXPECT_EQ(U16(g, 39), 0u);
    EXPECT_EQ(U16(g, 41), 65535u);
}

TEST(Display4DSOutput, JointValueEncodingRoundTrips) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> angle(-360.0f, 6000.0f);
    for (int i = 0; i < 2000; ++i) {
        const float v = angle(rng);
        const float back = P::DecodeJointValue(P::EncodeJointValue(v));
        EXPECT_LE(std::fabs(back - v), 0.1001f) << v;
        EXPECT_LE(std::fabs(back), std::fabs(v) + 1e-3f) << "truncates toward zero: " << v;
    }
}

// --- Byte stream assembly ---

namespace {
struct Collected {
    std::vector<std::vector<uint8_t>> frames;
    FrameAssembler::FrameHandler Handler() {
        return [this](const uint8_t* f, size_t n) { frames.emplace_back(f, f + n); };
    }
};
}  // namespace

TEST(Display4DSStream, PartialFramesAndGarbage) {
    FrameAssembler a(&P::InputFrameLength, 4 * P::inputFrameSize);
    Collected got;
    P::InputFrame in;
    in.keyCode = 0x1E;
    const auto frame = P::EncodeInput(in);

    a.Feed(frame.data(), 10, got.Handler());
    EXPECT_TRUE(got.frames.empty());
    EXPECT_EQ(a.Buffered(), 10u);
    a.Feed(frame.data() + 10, 7, got.Handler());
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], std::vector<uint8_t>(frame.begin(), frame.end()));

    // Garbage, a lone 0xFF, then two frames in one piece.
    std::vector<uint8_t> stream = {0x01, 0x02, 0xFF, 0x05, 0x00};
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), frame.begin(), frame.end());
    a.Feed(stream.data(), stream.size(), got.Handler());
    EXPECT_EQ(got.frames.size(), 3u);
    EXPECT_EQ(a.SkippedBytes(), 5u);
    EXPECT_EQ(a.Buffered(), 0u);

    // Noise never grows the buffer beyond its bound.
    std::vector<uint8_t> noise(10000, 0x55);
    a.Feed(noise.data(), noise.size(), got.Handler());
    EXPECT_LE(a.Buffered(), size_t(4 * P::inputFrameSize));
    EXPECT_EQ(got.frames.size(), 3u);
}

TEST(Display4DSStream, RandomChunkingKeepsEveryFrame) {
    std::mt19937 rng(4242);
    std::uniform_int_distribution<int> byte(0, 0xFE);  // noise without frame starts
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> stream;
        std::vector<std::vector<uint8_t>> sent;
        const int count = 1 + round % 7;
        for (int k = 0; k < count; ++k) {
            const int noise = rng() % 5;
            for (int n = 0; n < noise; ++n) stream.push_back(uint8_t(byte(rng)));
            const int kind = rng() % 3;
            std::vector<uint8_t> frame;
            if (kind == 0) {
                const auto f = P::EncodeMessage("m" + std::to_string(k));
                frame = std::vector<uint8_t>(f.begin(), f.end());
            } else if (kind == 1) {
                const auto f = P::EncodeFilename("f" + std::to_string(k));
                frame = std::vector<uint8_t>(f.begin(), f.end());
            } else {
                DataTypes::RobotState s;
                s.jointSetPoint[0] = float(k);
                const auto f = P::EncodePosition(s, P::PositionExtras{});
                frame = std::vector<uint8_t>(f.begin(), f.end());
            }
            sent.push_back(frame);
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        FrameAssembler a(&P::OutputFrameLength, 2 * P::positionFrameSize);
        Collected got;
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t piece = std::min(stream.size() - pos, size_t(1 + rng() % 40));
            a.Feed(stream.data() + pos, piece, got.Handler());
            pos += piece;
        }
        EXPECT_EQ(got.frames, sent) << "round " << round;
    }
}
