#include "PkgDisplay/DisplayEDIP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/PseudoTerminal.h"

namespace {

constexpr uint8_t ESC = 0x1B;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(uint8_t(v));
    return out;
}

// The answer of the display to a touch-buffer request: ACK, then a DC1 frame.
std::vector<uint8_t> Answer(const std::vector<uint8_t>& events) {
    std::vector<uint8_t> out{0x06, 0x11, uint8_t(events.size())};
    for (uint8_t b : events) out.push_back(b);
    out.push_back(DisplayEDIP::Checksum(0x11, events.data(), events.size()));
    return out;
}

std::vector<uint8_t> Touch(int code) {
    return Bytes({ESC, 'A', 1, code});
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace

TEST(DisplayEDIPFormat, ValuesRightAlignedInTenths) {
    EXPECT_EQ(DisplayEDIP::convertDtoC(12.34f), "  12.3");
    EXPECT_EQ(DisplayEDIP::convertDtoC(-12.34f), " -12.3");
    EXPECT_EQ(DisplayEDIP::convertDtoC(-123.45f), "-123.4");
    EXPECT_EQ(DisplayEDIP::convertDtoC(123.45f), " 123.4");
    EXPECT_EQ(DisplayEDIP::convertDtoC(5.0f), "   5.0");
    EXPECT_EQ(DisplayEDIP::convertDtoC(0.0f), "   0.0");
    EXPECT_EQ(DisplayEDIP::convertDtoC(0.07f), "   0.0");
    EXPECT_EQ(DisplayEDIP::convertDtoC(-0.07f), "   0.0") << "truncated to zero has no sign";
    EXPECT_EQ(DisplayEDIP::convertDtoC(-0.7f), "  -0.7");
    EXPECT_EQ(DisplayEDIP::convertDtoC(999.99f), " 999.9");
    EXPECT_EQ(DisplayEDIP::convertDtoC(-999.99f), "-999.9");
    // No room for a fourth digit: a clear mark rather than a wrong number.
    EXPECT_EQ(DisplayEDIP::convertDtoC(1000.0f), "######");
    EXPECT_EQ(DisplayEDIP::convertDtoC(-1234.5f), "######");
    EXPECT_EQ(DisplayEDIP::convertDtoC(std::numeric_limits<float>::quiet_NaN()), "######");
    EXPECT_EQ(DisplayEDIP::convertDtoC(std::numeric_limits<float>::infinity()), "######");
}

TEST(DisplayEDIPFormat, FramesAndChecksums) {
    EXPECT_EQ(DisplayEDIP::RequestFrame(), Bytes({0x12, 0x01, 0x53, 0x66}));
    // ESC 'D' 'L': 0x11 + 3 + 0x1B + 0x44 + 0x4C = 0xBF
    EXPECT_EQ(DisplayEDIP::Frame(Bytes({ESC, 'D', 'L'})), Bytes({0x11, 3, ESC, 'D', 'L', 0xBF, 0x0A, 0x0D}));
    // The sum wraps at 256.
    const std::vector<uint8_t> big(200, 0xF0);
    const auto frame = DisplayEDIP::Frame(big);
    ASSERT_EQ(frame.size(), 205u);
    EXPECT_EQ(frame[1], 200);
    EXPECT_EQ(frame[202], uint8_t((0x11 + 200 + 200 * 0xF0) % 256));
    EXPECT_TRUE(DisplayEDIP::Frame(std::vector<uint8_t>(256, 1)).empty()) << "length must fit its byte";
}

TEST(DisplayEDIPFormat, AnswerPayloadChecksAFramedAnswer) {
    std::vector<uint8_t> payload;
    const auto good = Answer(Touch(0x21));
    ASSERT_TRUE(DisplayEDIP::AnswerPayload(good.data(), good.size(), &payload));
    EXPECT_EQ(payload, Touch(0x21));

    auto corrupt = good;
    corrupt.back() ^= 0x01;
    EXPECT_FALSE(DisplayEDIP::AnswerPayload(corrupt.data(), corrupt.size(), &payload));
    const auto shortAnswer = std::vector<uint8_t>(good.begin(), good.end() - 2);
    EXPECT_FALSE(DisplayEDIP::AnswerPayload(shortAnswer.data(), shortAnswer.size(), &payload));
    const auto nak = Bytes({0x15, 0x11, 0x00, 0x11});
    EXPECT_FALSE(DisplayEDIP::AnswerPayload(nak.data(), nak.size(), &payload));

    const auto raw = Bytes({ESC, 'A', 1, 0x23});
    ASSERT_TRUE(DisplayEDIP::AnswerPayload(raw.data(), raw.size(), &payload));
    EXPECT_EQ(payload, raw);
}

TEST(DisplayEDIPTouch, EventsDependOnTheScreen) {
    DisplayEDIP display("/nonexistent/tty");  // never connected: screens change, nothing is sent
    EXPECT_EQ(display.GetScreen(), DisplayEDIP::screenGeneral);
    auto events = [&](std::vector<uint8_t> bytes) { display.HandleEvents(bytes.data(), bytes.size()); };

    events(Touch(0x21));
    EXPECT_EQ(display.GetCommand(), 10);
    EXPECT_EQ(display.GetCommand(), 0);
    events(Touch(0x23));
    EXPECT_EQ(display.GetCommand(), 11);
    events(Touch(0x25));
    EXPECT_EQ(display.GetCommand(), 13);
    events(Touch(0x35));  // a program key means nothing on the general screen
    EXPECT_EQ(display.GetCommand(), 0);

    events(Touch(0x73));
    EXPECT_EQ(display.GetScreen(), DisplayEDIP::screenJog);
    events(Touch(0x21));
    EXPECT_EQ(display.GetCommand(), 0);
    events(Touch(5));  // "A3"
    EXPECT_EQ(display.GetActiveJoint(), 2);
    events(Touch(0x11));
    EXPECT_EQ(display.GetJogValue(2), -100.0f);
    events(Touch(0x12));
    EXPECT_EQ(display.GetJogValue(2), 0.0f);
    events(Touch(0x13));
    EXPECT_EQ(display.GetJogValue(2), 100.0f);
    events(Touch(11));  // "A6" while "+" is held: the old joint stops
    EXPECT_EQ(display.GetActiveJoint(), 5);
    EXPECT_EQ(display.GetJogValue(2), 0.0f);
    events(Touch(0x13));
    EXPECT_EQ(display.GetJogValue(5), 100.0f);
    events(Touch(0x14));
    EXPECT_EQ(display.GetJogValue(5), 0.0f);
    events(Touch(0x13));
    events(Touch(0x75));  // a change of screen stops jogging
    EXPECT_EQ(display.GetScreen(), DisplayEDIP::screenProgram);
    EXPECT_EQ(display.GetJogValue(5), 0.0f);

    events(Touch(0x35));
    EXPECT_EQ(display.GetCommand(), 2);
    events(Touch(0x37));
    EXPECT_EQ(display.GetCommand(), 3);
    events(Touch(0x39));
    EXPECT_EQ(display.GetCommand(), 4);
    events(Touch(0x31));  // Refresh carries no command
    EXPECT_EQ(display.GetCommand(), 0);

    testing::internal::CaptureStdout();
    events(Bytes({0x00, ESC, 'B', 2, 1, 65}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bar: 2 1 65\n");
    EXPECT_EQ(display.GetOverride(), 65);
    EXPECT_EQ(display.GetCommand(), 33);

    // Cut-off events are ignored.
    events(Bytes({ESC, 'A', 1}));
    events(Bytes({ESC, 'B', 2, 1}));
    EXPECT_EQ(display.GetCommand(), 0);
    EXPECT_EQ(display.GetOverride(), 65);
}

TEST(DisplayEDIPPort, DefaultDeviceAndFailedOpen) {
    DisplayEDIP display;
    EXPECT_EQ(display.GetDevice(), "/dev/ttyO1");
    DisplayEDIP missing("/nonexistent/ttyO1");
    testing::internal::CaptureStderr();
    missing.Connect();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Display: unable to open /nonexistent/ttyO1\n"), std::string::npos) << err;
    EXPECT_FALSE(missing.IsConnected());
    EXPECT_FALSE(missing.SendData(Bytes({ESC, 'D', 'L'})));
    missing.readBuffer();
    missing.update();
}

TEST(DisplayEDIPPort, ScreensAndTouchOverAPseudoTerminal) {
    PseudoTerminal pty;
    DisplayEDIP display(pty.SlavePath());
    display.Connect();
    ASSERT_TRUE(display.IsConnected());
    const auto startUp = pty.ReadAll();
    EXPECT_EQ(std::vector<uint8_t>(startUp.begin(), startUp.begin() + 8),
              DisplayEDIP::Frame(Bytes({ESC, 'T', 'A'})));
    std::vector<uint8_t> jKey = Bytes({ESC, 'A', 'K', 142, 34, 165, 67, 0x73, 0x74, 'C', 'J', 0});
    EXPECT_TRUE(Contains(startUp, DisplayEDIP::Frame(jKey)));
    const std::string product = "Orvane";
    EXPECT_TRUE(Contains(startUp, std::vector<uint8_t>(product.begin(), product.end())));

    // The jog screen: clear, keys, bar, joint keys, active joint marked, bar set.
    display.SetOverride(40);
    pty.ReadAll();
    pty.Write(Answer(Touch(0x73)));
    display.readBuffer();
    const auto jog = pty.ReadAll();
    ASSERT_GE(jog.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(jog.begin(), jog.begin() + 4), DisplayEDIP::RequestFrame());
    EXPECT_EQ(display.GetScreen(), DisplayEDIP::screenJog);
    EXPECT_TRUE(Contains(jog, DisplayEDIP::Frame(Bytes({ESC, 'D', 'L'}))));
    EXPECT_TRUE(Contains(jog, DisplayEDIP::Frame(Bytes({ESC, 'B', 'O', 1, 115, 5, 135, 100, 0, 100, 1, 1}))));
    EXPECT_TRUE(Contains(
        jog, DisplayEDIP::Frame(Bytes({ESC, 'A', 'K', 55, 56, 75, 73, 11, 12, 'C', 'A', '6', 0}))));
    EXPECT_TRUE(Contains(jog, DisplayEDIP::Frame(Bytes({ESC, 'A', 'P', 1, 1}))));
    EXPECT_TRUE(Contains(jog, DisplayEDIP::Frame(Bytes({ESC, 'B', 'A', 1, 40}))));

    // A corrupt answer changes nothing; a good one jogs.
    auto bad = Answer(Touch(0x13));
    bad.back() ^= 0xFF;
    pty.Write(bad);
    display.readBuffer();
    EXPECT_EQ(display.GetJogValue(0), 0.0f);
    pty.Write(Answer(Touch(0x13)));
    display.readBuffer();
    EXPECT_EQ(display.GetJogValue(0), 100.0f);

    // The jog screen shows the joint values on refresh.
    DataTypes::RobotState state;
    state.jointSetPoint[0] = -12.34f;
    display.SetValues(state);
    EXPECT_FLOAT_EQ(display.GetJointValue(0), -12.34f);
    pty.ReadAll();
    for (int i = 0; i < 30; ++i) display.update();
    const auto shown = pty.ReadAll();
    EXPECT_TRUE(Contains(shown, DisplayEDIP::Frame(Bytes({ESC, 'Z', 'C', 37, 21, ' ', '-', '1', '2', '.', '3', 0}))));

    // The display vanishes mid-jog: disconnected once, the jog stops.
    pty.Close();
    testing::internal::CaptureStderr();
    display.update();
    display.update();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(display.IsConnected());
    EXPECT_EQ(display.GetJogValue(0), 0.0f);
    EXPECT_NE(err.find("Display: lost the display on "), std::string::npos) << err;
    EXPECT_EQ(err.find("lost the display"), err.rfind("lost the display"));
}

TEST(DisplayEDIPPort, AliveSignTurnsEverySecondStep) {
    PseudoTerminal pty;
    DisplayEDIP display(pty.SlavePath());
    display.Connect();
    pty.ReadAll();
    const std::vector<std::string> signs = {"\\|", "", "/", "", "-", "", "\\\\", "\\|"};
    for (size_t step = 0; step < signs.size(); ++step) {
        EXPECT_EQ(display.GetAlivePhase(), int(step % 7));
        display.sendAliveSign(10, 20);
        const auto sent = pty.ReadAll(20);
        if (signs[step].empty()) {
            EXPECT_TRUE(sent.empty()) << "step " << step;
        } else {
            std::vector<uint8_t> payload = Bytes({ESC, 'Z', 'C', 10, 20});
            payload.insert(payload.end(), signs[step].begin(), signs[step].end());
            payload.push_back(0);
            EXPECT_EQ(sent, DisplayEDIP::Frame(payload)) << "step " << step;
        }
        display.update();  // advances the phase (and sends its own sign)
        pty.ReadAll(20);
    }
}
