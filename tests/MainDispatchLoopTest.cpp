#include "MainDispatchLoop.h"

#include <gtest/gtest.h>

#include <vector>

#include "ComStatusTelegram.h"
#include "support/LogTail.h"
#include "support/RobotFixture.h"

namespace {

class MainLoop : public RobotFixture {
protected:
    void SetUp() override {
        RobotFixture::SetUp();
        Build();
        loop = std::make_unique<MainDispatchLoop>(*robot, snapshot, keyboard, display, frontend);
        loop->SetSleep([](int) {});
        loop->SetReportObserver([this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override {
        loop.reset();
        RobotFixture::TearDown();
    }
    std::vector<float> RobotJog() const {
        std::vector<float> jog(9);
        robot->GetJogValues(jog.data());
        return jog;
    }
    int CountLines(const std::string& prefix) const {
        int n = 0;
        for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    DataTypes::RobotState snapshot;
    OperatorChannel keyboard;
    OperatorChannel display;
    OperatorChannel frontend;
    std::unique_ptr<MainDispatchLoop> loop;
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(MainLoop, LocalJogIsSummedAndForcesJointMode) {
    robot->SetMotionMode(2);
    keyboard.SetJogValue(0, 30.0f);
    display.SetJogValue(0, 20.0f);
    display.SetJogValue(6, 100.0f);
    frontend.SetJogValue(1, 50.0f);
    loop->Pass();
    EXPECT_EQ(RobotJog(), std::vector<float>({50, 0, 0, 0, 0, 0, 100, 0, 0}));
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::ROBOT_JOINT);
}

TEST_F(MainLoop, CancellingLocalJogHandsOverTheFrontEndsValues) {
    robot->SetMotionMode(2);
    keyboard.SetJogValue(0, 30.0f);
    display.SetJogValue(0, -30.0f);
    frontend.SetJogValue(1, 50.0f);
    loop->Pass();
    EXPECT_EQ(RobotJog(), std::vector<float>({0, 50, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::ROBOT_CART_BASE);

    // The front-end hook (with its watchdog) replaces the channel's values.
    MainDispatchLoop::Peripherals hooks;
    int watchdogRuns = 0;
    hooks.frontendJog = [&watchdogRuns](float* out) {
        ++watchdogRuns;
        for (int i = 0; i < 9; ++i) out[i] = float(i);
    };
    loop->SetPeripherals(hooks);
    loop->Pass();
    EXPECT_EQ(watchdogRuns, 1);
    EXPECT_EQ(RobotJog(), std::vector<float>({0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(MainLoop, OneCommandPerPassWithDisplayOverKeyboardOverFrontEnd) {
    keyboard.PostCommand(10);
    frontend.PostCommand(12);
    loop->Pass();
    EXPECT_EQ(bus->ResetErrorCount(), 1);
    EXPECT_TRUE(bus->EnableCalls().empty());
    EXPECT_EQ(frontend.PeekCommand().code, 0);  // dropped, not delayed
    loop->Pass();
    EXPECT_TRUE(bus->EnableCalls().empty());

    keyboard.PostCommand(12);
    display.PostCommand(17);
    loop->Pass();
    EXPECT_EQ(bus->AlignCount(), 1);
    EXPECT_TRUE(bus->EnableCalls().empty());
    EXPECT_EQ(keyboard.PeekCommand().code, 0);
}

TEST_F(MainLoop, CommandsResetJogValuesExceptOutputsOverrideAndUnknownCodes) {
    for (int code : {31, 32, 33, 0, 1, 18, 25, 40, 58, 70, 90, 100, 512}) {
        keyboard.SetJogValue(2, 40.0f);
        frontend.PostCommand(code, 3, 20.0f);
        loop->Pass();
        EXPECT_FLOAT_EQ(keyboard.GetJogValue(2), 40.0f) << code;
    }
    keyboard.SetJogValue(2, 40.0f);
    frontend.SetJogValue(2, 40.0f);
    frontend.PostCommand(51);
    loop->Pass();
    EXPECT_EQ(keyboard.GetJogValue(2), 0.0f);
    EXPECT_EQ(frontend.GetJogValue(2), 0.0f);
    float merged[9];
    loop->GetJogValues(merged);
    EXPECT_EQ(merged[2], 0.0f);
}

TEST_F(MainLoop, MotionModeOutputAndOverrideCodes) {
    frontend.PostCommand(23);
    loop->Pass();
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::ROBOT_CART_TOOL);
    frontend.PostCommand(14);
    loop->Pass();
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::PLATFORM_CART);

    frontend.PostCommand(31, 5);
    loop->Pass();
    robot->RunCycleOnce();
    loop->Pass();
    EXPECT_TRUE(snapshot.digitalOut[5]);

    frontend.PostCommand(33, 0, 150.0f);
    loop->Pass();
    EXPECT_FLOAT_EQ(robot->GetOverride(), 100.0f);
    frontend.PostCommand(33, 0, -5.0f);
    loop->Pass();
    EXPECT_FLOAT_EQ(robot->GetOverride(), 0.0f);
    keyboard.PostCommand(33, 0, 60.0f);
    loop->Pass();
    EXPECT_FLOAT_EQ(robot->GetOverride(), 60.0f);

    frontend.PostCommand(15, 4);
    loop->Pass();
    EXPECT_EQ(bus->References(), std::vector<int>({4}));
}

// A manual output shows in the next pass's snapshot (the status telegram)
// even when no robot cycle ran in between, and stays once the cycle publishes
// it; a change back before the cycle runs is what the cycle sends.
TEST_F(MainLoop, ManualOutputsShowBeforeTheNextCycle) {
    // Output 12 on (31) or off (32) from the front-end, then main-loop passes.
    auto manual = [&](int code, int passes) {
        frontend.PostCommand(code, 12);
        for (int i = 0; i < passes; ++i) loop->Pass();
    };
    robot->RunCycleOnce();
    manual(31, 2);
    EXPECT_TRUE(snapshot.digitalOut[12]);
    robot->RunCycleOnce();
    EXPECT_EQ(bus->OutputValue(false, 3, 12), 1);
    loop->Pass();
    EXPECT_TRUE(snapshot.digitalOut[12]);

    manual(32, 2);
    EXPECT_FALSE(snapshot.digitalOut[12]);
    manual(31, 1);
    manual(32, 2);
    EXPECT_FALSE(snapshot.digitalOut[12]);
    robot->RunCycleOnce();
    EXPECT_EQ(bus->OutputValue(false, 3, 12), 0);
    robot->RunCycleOnce();
    loop->Pass();
    EXPECT_FALSE(snapshot.digitalOut[12]);
}

TEST_F(MainLoop, ShutdownOnlyForNinetyNineWithNinetyNine) {
    frontend.PostCommand(99, 1);
    EXPECT_TRUE(loop->Pass());
    EXPECT_FALSE(loop->Stopped());
    frontend.PostCommand(99, 99);
    EXPECT_FALSE(loop->Pass());
    EXPECT_TRUE(loop->Stopped());
    EXPECT_EQ(bus->ResetErrorCount(), 1);  // Shutdown resets the joints
    EXPECT_EQ(loop->Run(), 0);             // an ended loop returns at once
}

TEST_F(MainLoop, SignalRequestRunsTheOrderlyShutdown) {
    loop->RequestShutdown();
    EXPECT_FALSE(loop->Pass());
    EXPECT_EQ(bus->ResetErrorCount(), 1);
}

TEST_F(MainLoop, BusShutdownRequestIsSeenWithinOneSecond) {
    bus->shutdownRequest = 1;
    robot->RunCycleOnce();
    int passes = 0;
    while (loop->Pass() && passes < 100) ++passes;
    EXPECT_TRUE(loop->Stopped());
    EXPECT_LE(passes + 1, 40);
}

TEST_F(MainLoop, StatusLineEverySecondAndFullReportEvery300Passes) {
    bus->SetConnected(true);
    robot->RunCycleOnce();
    // The counter starts at 80: status lines at 120, 160, ..., 280, report at 300.
    for (int i = 0; i < 219; ++i) loop->Pass();
    EXPECT_EQ(CountLines("Pos: "), 5);
    EXPECT_EQ(CountLines("Error Codes Arm: "), 0);
    loop->Pass();
    EXPECT_EQ(CountLines("Error Codes Arm: "), 1);
    EXPECT_EQ(CountLines("Board Temp: "), 1);
    EXPECT_EQ(CountLines("Ref State: Overall "), 1);
    EXPECT_EQ(loop->GetPassCounter(), 0);
    for (int i = 0; i < 300; ++i) loop->Pass();
    EXPECT_EQ(CountLines("Pos: "), 5 + 7);
    EXPECT_EQ(CountLines("Error Codes Arm: "), 2);
}

TEST_F(MainLoop, BusConnectionIsTriedFiveTimes) {
    bus->SetConnectMakesConnected(false);
    for (int i = 0; i < 8; ++i) loop->Pass();
    EXPECT_EQ(bus->ConnectCount(), 5);
    EXPECT_EQ(loop->GetConnectionTries(), 0);
}

// A silent bus is disconnected by the pass (the cycle only asks for it); five
// attempts, then one quiet attempt every 200 passes for as long as it runs;
// modules that answer again restore the five; after the loss nothing moves
// until a reset.
TEST_F(MainLoop, BusOutagesAreRetriedForeverAndAnsweringRestoresTheAttempts) {
    Build(false);
    loop = std::make_unique<MainDispatchLoop>(*robot, snapshot, keyboard, display, frontend);
    loop->SetSleep([](int) {});
    LogTail log;
    bus->SetConnected(true);
    bus->modulesAnswering = true;
    robot->RunCycleOnce();
    loop->Pass();
    EXPECT_EQ(bus->ConnectCount(), 0);

    bus->disconnectRequest = true;
    bus->SetConnectMakesConnected(false);
    loop->Pass();
    EXPECT_EQ(bus->DisconnectCount(), 1);
    EXPECT_FALSE(bus->disconnectRequest.load());
    for (int i = 0; i < 10; ++i) loop->Pass();
    EXPECT_EQ(bus->ConnectCount(), 5);
    EXPECT_EQ(loop->GetConnectionTries(), 0);
    EXPECT_TRUE(bus->quiet.load());
    for (int i = 0; i < 400; ++i) loop->Pass();
    EXPECT_EQ(bus->ConnectCount(), 7);
    EXPECT_EQ(log.Count("***************** Connecting CAN bus... ******************"), 5);
    EXPECT_EQ(log.Count("Orvane: CAN bus not answering after 5 connection attempts, retrying every 5 s"), 1);

    bus->SetConnectMakesConnected(true);
    for (int i = 0; i < 200 && bus->ConnectCount() == 7; ++i) loop->Pass();
    bus->modulesAnswering = true;
    loop->Pass();
    loop->Pass();
    EXPECT_EQ(loop->GetConnectionTries(), 5);
    EXPECT_FALSE(bus->quiet.load());
    EXPECT_EQ(log.Count("Orvane: CAN bus answering again, 5 connection attempts restored; reset and enable to move"),
              1);

    keyboard.SetJogValue(0, 100.0f);
    loop->Pass();
    robot->RunCycleOnce();
    EXPECT_EQ(State().kinState, 99);
    EXPECT_EQ(State().jointSetPoint[0], 0.0f);
    robot->Reset();
    loop->Pass();
    robot->RunCycleOnce();
    EXPECT_EQ(State().kinState, 0);
    EXPECT_GT(State().jointSetPoint[0], 0.0f);
}

TEST_F(MainLoop, ConnectedBusIsNotReconnected) {
    loop->Pass();
    EXPECT_EQ(bus->ConnectCount(), 1);
    for (int i = 0; i < 5; ++i) loop->Pass();
    EXPECT_EQ(bus->ConnectCount(), 1);
}

TEST_F(MainLoop, PeripheralsSeeTheSnapshotEveryPass) {
    MainDispatchLoop::Peripherals hooks;
    int published = 0;
    std::string status;
    hooks.frontendPublish = [&published](const DataTypes::RobotState&) { ++published; };
    hooks.displaySetValues = [&published](const DataTypes::RobotState&) { ++published; };
    hooks.displayUpdate = [&status](const std::string& text) { status = text; };
    loop->SetPeripherals(hooks);
    robot->RunCycleOnce();
    loop->Pass();
    EXPECT_EQ(published, 2);
    EXPECT_EQ(status, "NoError");
}

TEST(MainLoopText, StatusLineAndKinematicStates) {
    DataTypes::RobotState s;
    s.posCartRobot.SetTranslation(250.0f, -1.25f, 300.0f);
    s.posA = 90.0f;
    s.jointSetPoint[0] = 1.0f;
    s.jointSetPoint[5] = -6.5f;
    s.gripperSetPoint[0] = 30.0f;
    s.errorText = "NoError";
    s.kinState = 22;
    EXPECT_EQ(MainDispatchLoop::StatusLine(s),
              "Pos: 250.0 -1.2 300.0 - 90.0 0.0 0.0    Joints: 1.0, 0.0, 0.0, 0.0, 0.0, -6.5   Grp: 30.0   "
              "Status: NoError, ERROR-KinReach");
    const struct {
        int state;
        const char* text;
    } table[] = {{0, "KinOK"},           {99, "MotionNotAllowed"}, {13, "ERROR-JointLimit"},
                 {14, "ERROR-JointLimit"}, {21, "ERROR-KinCenter"},  {22, "ERROR-KinReach"},
                 {15, "ERROR-JointStep"},  {23, "ERROR-KinWrist"},   {5, "ERROR"},
                 {-1, "ERROR"}};
    for (const auto& entry : table) EXPECT_EQ(ComStatusTelegram::KinStateText(entry.state), entry.text);

    s.jointError[6] = 7;
    s.jointError[10] = 11;
    s.supply = 24000;
    s.emergencyStop = 3;
    EXPECT_EQ(MainDispatchLoop::ErrorLine(s),
              "Error Codes Arm: 0 0 0 0 0 0 - Grp: 7 - Pltf: 0 0 0 11 - Supply: 24000 - Current: 0 - EStop: 3");
    s.referenceState = 1;
    s.jointReferenced[2] = true;
    EXPECT_EQ(MainDispatchLoop::ReferenceLine(s), "Ref State: Overall 1  Detailed: 0  0  1  0  0  0");
    s.jointTemperature[0] = 35.25f;
    EXPECT_EQ(MainDispatchLoop::TemperatureLine(s), "Board Temp: 35.2  0.0  0.0  0.0  0.0  0.0");
}
