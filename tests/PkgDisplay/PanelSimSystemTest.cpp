// The panel simulator against the controller's 4DS driver, over its pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>
#include <thread>

#include "LogSingleton.h"
#include "PkgDisplay/Display4DS.h"
#include "support/ChildProcess.h"

namespace {

// Runs display passes (10 ms apart) until `done` holds or about 10 s passed.
bool PassUntil(Display4DS& display, const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
        display.update();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string DevicePath(const std::string& output) {
    std::smatch m;
    static const std::regex device("device (\\S+)\n");
    return std::regex_search(output, m, device) ? m[1].str() : "";
}

}  // namespace

TEST(PanelSimSystem, JoystickKeysAndFramesBothWays) {
    ChildProcess sim(std::string(ORVANE_BIN_DIR) + "/orvane-panelsim", {"--period", "20", "--position-interval", "1"});
    ASSERT_TRUE(sim.WaitForOutput("ready\n", 10000)) << sim.Output();
    const std::string device = DevicePath(sim.Output());
    ASSERT_FALSE(device.empty()) << sim.Output();

    LogSingleton* log = LogSingleton::instance();
    std::string drop;
    log->DisplayGetMessage(&drop);
    log->DisplayGetFilename(&drop);

    Display4DS display;
    display.Connect(device);
    ASSERT_TRUE(display.IsConnected());

    // Joystick: the simulator's "jog 0 50" is decoded as +50 %, inverted in mode 0.
    sim.Write("jog 0 50\noverride 65\n");
    ASSERT_TRUE(PassUntil(display, [&] { return display.GetJogValue(0) == -50.0f; }));
    EXPECT_EQ(display.GetOverride(), 65);

    // A key goes out in exactly one frame and becomes one command.
    sim.Write("key 0x50\n");
    OperatorCommand command;
    ASSERT_TRUE(PassUntil(display, [&] {
        command = display.GetChannel().TakeCommand();
        return command.code != 0;
    }));
    EXPECT_EQ(command.code, 61);
    for (int i = 0; i < 10; ++i) display.update();
    EXPECT_EQ(display.GetChannel().TakeCommand().code, 0);

    // Mode 7 is taken with the next key: the platform mapping.
    sim.Write("mode 7\njog 1 -30\nkey 0x11\n");
    ASSERT_TRUE(PassUntil(display, [&] { return display.GetMode() == 7; }));
    EXPECT_EQ(display.GetChannel().TakeCommand().code, 24);
    EXPECT_FLOAT_EQ(display.GetJogValue(0), 30.0f);
    EXPECT_FLOAT_EQ(display.GetJogValue(1), -50.0f);

    // Controller to panel: the start message, a message, a file name and positions.
    ASSERT_TRUE(sim.WaitForOutput("MESSAGE testMessage\n", 5000)) << sim.Output();
    log->DisplaySetMessage("Starting Program");
    ASSERT_TRUE(PassUntil(display, [&] { return sim.WaitForOutput("MESSAGE Starting Program\n", 1); }))
        << sim.Output();
    log->DisplaySetFilename("weld.xml");
    ASSERT_TRUE(PassUntil(display, [&] { return sim.WaitForOutput("FILENAME weld.xml\n", 1); }))
        << sim.Output();
    DataTypes::RobotState state;
    state.errorText = "NoError";
    // Still in mode 7: the first four groups show the platform.
    state.platformSetPoint[0] = 12.5f;
    state.jointSetPoint[0] = 33.0f;
    state.jointSetPoint[4] = -90.0f;
    display.SetValues(state);
    ASSERT_TRUE(PassUntil(display, [&] { return sim.WaitForOutput("POSITION 12.5 0.0 0.0 0.0 -90.0 0.0", 1); }))
        << sim.Output();
    EXPECT_NE(sim.Output().find("| NoError\n"), std::string::npos);

    // Garbage on the line costs nothing but the garbage.
    sim.Write("raw 01 02 FF 03\njog 1 0\n");  // mode 7: axis 1 drives jog 1
    ASSERT_TRUE(PassUntil(display, [&] { return display.GetJogValue(0) == 0.0f; }));
    EXPECT_GE(display.GetSkippedByteCount(), 4u);

    sim.Write("bogus\n");
    ASSERT_TRUE(sim.WaitForOutput("error: unknown command \"bogus\"", 5000));
    sim.Write("quit\n");
    EXPECT_EQ(sim.Wait(5000), 0);

    // The simulator is gone: the display notices and lets go.
    ASSERT_TRUE(PassUntil(display, [&] { return !display.IsConnected(); }));
}
