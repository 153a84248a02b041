#include "PkgDisplay/Display4DS.h"

#include <gtest/gtest.h>

#include "LogSingleton.h"
#include "support/PseudoTerminal.h"

using P = Display4DSProtocol;

namespace {

std::vector<uint8_t> InputBytes(const P::InputFrame& frame) {
    const auto bytes = P::EncodeInput(frame);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

P::InputFrame Centred() {
    return P::InputFrame{};
}

// A connected display with the start-up test message already taken off the line.
class Display4DSPanel : public ::testing::Test {
protected:
    void SetUp() override {
        LogSingleton* log = LogSingleton::instance();
        std::string drop;
        log->DisplayGetMessage(&drop);
        log->DisplayGetFilename(&drop);
        display.Connect(pty.SlavePath());
        ASSERT_TRUE(display.IsConnected());
        display.update();
        std::string text;
        const auto first = pty.Read(P::messageFrameSize);
        ASSERT_TRUE(P::DecodeText(first.data(), first.size(), &text));
        ASSERT_EQ(text, "testMessage");
    }

    // One pass: the display reads what the panel sent and answers with one frame.
    std::vector<uint8_t> Pass(size_t expect = P::positionFrameSize) {
        display.update();
        return pty.Read(expect);
    }
    // A frame with one joystick axis off centre, then one pass.
    void SendAxis(int axis, uint8_t value) {
        P::InputFrame in = Centred();
        in.axes[axis] = value;
        pty.Write(InputBytes(in));
        Pass();
    }

    PseudoTerminal pty;
    Display4DS display;
};

}  // namespace

TEST(Display4DSPort, OpenFailuresAndTheirTexts) {
    Display4DS display;
    EXPECT_EQ(display.GetPort(), "/dev/ttyUSB0");

    testing::internal::CaptureStderr();
    EXPECT_EQ(display.open_port("/nonexistent/ttyX"), Display4DS::resultOpenFailed);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Display 4DS: unable to open /nonexistent/ttyX\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Display 4DS: Change port in robot ini file? E.g. /dev/ttyO1\n"), std::string::npos);
    EXPECT_FALSE(display.IsConnected());

    testing::internal::CaptureStderr();
    EXPECT_EQ(display.open_port("/dev/null"), Display4DS::resultNotATty);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Display 4DS: Open successfull. Now configuring...\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: device is not a tty...\n"), std::string::npos) << err;
    EXPECT_FALSE(display.IsConnected());
    EXPECT_EQ(display.GetPort(), "/dev/null");

    // Not connected: update neither reads nor writes nor fails.
    display.update();
    EXPECT_EQ(display.GetByteCount(), 0u);
}

TEST(Display4DSPort, EmptyPortMeansNoPanel) {
    Display4DS display;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    display.Connect("");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Display 4DS: no display port configured, running without operator panel\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Connecting"), std::string::npos);
    EXPECT_EQ(err, "");
    EXPECT_FALSE(display.IsConnected());
}

TEST(Display4DSPort, ConnectsToAPseudoTerminal) {
    PseudoTerminal pty;
    Display4DS display;
    testing::internal::CaptureStdout();
    display.Connect(pty.SlavePath());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Display 4DS: Connecting...\n"), std::string::npos);
    EXPECT_NE(out.find("Display4DS: Successfully connected to " + pty.SlavePath() + "\n"), std::string::npos)
        << out;
    EXPECT_TRUE(display.IsConnected());
    EXPECT_EQ(display.GetPort(), pty.SlavePath());
}

TEST_F(Display4DSPanel, AnswersWithMessageThenFilenameThenPosition) {
    LogSingleton* log = LogSingleton::instance();
    log->DisplaySetFilename("weld.xml");
    log->DisplaySetMessage("Starting Program");
    std::string text;

    auto frame = Pass(P::messageFrameSize);
    ASSERT_TRUE(P::DecodeText(frame.data(), frame.size(), &text));
    EXPECT_EQ(frame[1], 0x02);
    EXPECT_EQ(text, "Starting Program");

    frame = Pass(P::filenameFrameSize);
    ASSERT_TRUE(P::DecodeText(frame.data(), frame.size(), &text));
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(text, "weld.xml");

    DataTypes::RobotState state;
    state.jointSetPoint[1] = 45.0f;
    state.errorText = "NoError";
    display.SetValues(state);
    frame = Pass();
    P::PositionFrame pos;
    ASSERT_TRUE(P::DecodePosition(frame.data(), frame.size(), &pos));
    EXPECT_FLOAT_EQ(pos.position[1], 45.0f);
    EXPECT_EQ(pos.text, "NoError");

    // The main loop's status text replaces the state's error text.
    display.SetStatusText("JointError");
    frame = Pass();
    ASSERT_TRUE(P::DecodePosition(frame.data(), frame.size(), &pos));
    EXPECT_EQ(pos.text, "JointError");

    EXPECT_EQ(display.GetByteCount(), uint64_t(2 * P::messageFrameSize + P::filenameFrameSize + 2 * P::positionFrameSize));
    EXPECT_TRUE(pty.ReadAll(20).empty()) << "exactly one frame per update";
}

TEST_F(Display4DSPanel, SmoothsTheMonitoredCurrent) {
    DataTypes::RobotState state;
    state.currentAll = 1000;
    state.supply = 24;
    display.SetValues(state);
    P::PositionFrame pos;
    auto frame = Pass();
    ASSERT_TRUE(P::DecodePosition(frame.data(), frame.size(), &pos));
    EXPECT_EQ(pos.currentAll, 200);  // one value in a window of five
    EXPECT_EQ(pos.supply, 24);
    for (int i = 0; i < 4; ++i) display.SetValues(state);
    frame = Pass();
    ASSERT_TRUE(P::DecodePosition(frame.data(), frame.size(), &pos));
    EXPECT_EQ(pos.currentAll, 1000);
}

TEST_F(Display4DSPanel, JoystickModeAndKeysFromTheByteStream) {
    P::InputFrame in = Centred();
    in.axes[0] = 150;
    in.axes[6] = 100;
    in.override = 70;
    const auto bytes = InputBytes(in);

    // A frame split over two reads counts once it is complete.
    pty.Write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9));
    Pass();
    EXPECT_EQ(display.GetJogValue(0), 0.0f);
    pty.Write(std::vector<uint8_t>(bytes.begin() + 9, bytes.end()));
    Pass();
    EXPECT_FLOAT_EQ(display.GetJogValue(0), -2.0f);  // mode 0 inverts the first axis
    EXPECT_FLOAT_EQ(display.GetJogValue(6), -8.0f);
    EXPECT_EQ(display.GetOverride(), 70);
    EXPECT_EQ(display.GetCommand(), 0);

    // Garbage before a frame is skipped; the mode only changes with a key code.
    in.mode = 7;
    in.keyCode = 0;
    in.axes[2] = 255;
    std::vector<uint8_t> noisy = {0x12, 0x34, 0xFF, 0x99};
    const auto next = InputBytes(in);
    noisy.insert(noisy.end(), next.begin(), next.end());
    pty.Write(noisy);
    Pass();
    EXPECT_EQ(display.GetMode(), 0);
    EXPECT_FLOAT_EQ(display.GetJogValue(2), 100.0f);
    EXPECT_EQ(display.GetSkippedByteCount(), 4u);

    in.keyCode = 0x50;  // start program in single mode
    pty.Write(InputBytes(in));
    Pass();
    EXPECT_EQ(display.GetMode(), 7);
    EXPECT_FLOAT_EQ(display.GetJogValue(0), 0.0f);  // mode 7: axis 1 drives jog 1
    EXPECT_FLOAT_EQ(display.GetJogValue(1), -2.0f);
    EXPECT_FLOAT_EQ(display.GetJogValue(2), -100.0f);
    EXPECT_FLOAT_EQ(display.GetJogValue(3), 0.0f);
    EXPECT_EQ(display.GetCommand(), 61);
    EXPECT_EQ(display.GetCommand(), 0) << "a command is handed out once";

    // Several frames in one read: the key of an earlier one is not lost.
    P::InputFrame key = in;
    key.keyCode = 0x48;  // reference joint 2
    P::InputFrame idle = in;
    idle.keyCode = 0;
    std::vector<uint8_t> two = InputBytes(key);
    const auto idleBytes = InputBytes(idle);
    two.insert(two.end(), idleBytes.begin(), idleBytes.end());
    pty.Write(two);
    Pass();
    EXPECT_EQ(display.GetCommand(), 15);
    EXPECT_EQ(display.GetCommandParameter(), 2);

    display.resetJogValues();
    for (int i = 0; i < Display4DS::jogCount; ++i) EXPECT_EQ(display.GetJogValue(i), 0.0f);
}

TEST_F(Display4DSPanel, OverrideKeyAndOutputToggles) {
    DataTypes::RobotState state;
    state.digitalOut[2] = true;
    display.SetValues(state);
    P::InputFrame in = Centred();
    in.override = 85;
    in.keyCode = 0x3C;
    pty.Write(InputBytes(in));
    Pass();
    // The main loop takes the command with its arguments from the channel.
    const OperatorCommand taken = display.GetChannel().TakeCommand();
    EXPECT_EQ(taken.code, 33);
    EXPECT_EQ(taken.numArg, 85.0f);
    EXPECT_EQ(display.GetOverrideValue(), 85);
    EXPECT_EQ(display.GetCommand(), 0);

    in.keyCode = 0x7A;  // output 3, currently on
    pty.Write(InputBytes(in));
    Pass();
    EXPECT_EQ(display.GetCommandParameter(), 2);
    const OperatorCommand toggle = display.GetChannel().TakeCommand();
    EXPECT_EQ(toggle.code, 32);
    EXPECT_EQ(toggle.intArg, 2);
    in.keyCode = 0x7B;
    pty.Write(InputBytes(in));
    Pass();
    EXPECT_EQ(display.GetCommand(), 31);
    EXPECT_EQ(display.GetCommandParameter(), 3);
}

TEST_F(Display4DSPanel, SilentPanelReleasesTheJoystick) {
    SendAxis(3, 255);
    EXPECT_FLOAT_EQ(display.GetJogValue(3), 100.0f);
    testing::internal::CaptureStderr();
    for (int i = 0; i < Display4DS::inputTimeoutPasses - 1; ++i) display.update();
    EXPECT_FLOAT_EQ(display.GetJogValue(3), 100.0f);
    display.update();
    for (int i = 0; i < 10; ++i) display.update();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(display.GetJogValue(3), 0.0f);
    EXPECT_TRUE(display.IsConnected());
    size_t lines = 0;
    for (size_t p = err.find("no input from the panel"); p != std::string::npos;
         p = err.find("no input from the panel", p + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << err;
    pty.ReadAll(20);

    // Frames again: the joystick works again.
    SendAxis(3, 255);
    EXPECT_FLOAT_EQ(display.GetJogValue(3), 100.0f);
}

TEST_F(Display4DSPanel, VanishedPanelDisconnectsWithOneLogLine) {
    SendAxis(1, 0);
    EXPECT_FLOAT_EQ(display.GetJogValue(1), 100.0f);
    pty.Close();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 5; ++i) display.update();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(display.IsConnected());
    EXPECT_EQ(display.GetJogValue(1), 0.0f) << "a lost panel stops its jog";
    EXPECT_NE(err.find("Display 4DS: lost the panel on "), std::string::npos) << err;
    EXPECT_EQ(err.find("lost the panel"), err.rfind("lost the panel")) << "one line only: " << err;
}
