#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "support/RobotFixture.h"

using RobotOperations = RobotFixture;

namespace {

PlcSettings ActivePlc() {
    PlcSettings plc;
    plc.active = true;
    plc.inputs[0] = 3;   // enable
    plc.inputs[1] = 4;   // play
    plc.inputs[2] = 5;   // reference request
    plc.outputs[0] = 40; // no fault
    plc.outputs[1] = 41; // program running
    plc.outputs[2] = 42; // referenced
    for (int& entry : plc.referenceSequence) entry = -1;
    return plc;
}

}  // namespace

TEST_F(RobotOperations, PlcInputsActOnRisingEdgesOnly) {
    Build();
    LogSingleton::instance()->SetPlcSettings(ActivePlc());
    bus->SetInput(3, true);
    Cycles(5);
    EXPECT_EQ(bus->EnableCalls(), std::vector<bool>({true}));
    EXPECT_EQ(bus->ResetErrorCount(), 1);
    // "PLC: Enable" is shown first; the program stop that follows shows its own text.
    EXPECT_EQ(DisplayMessage(), "Stopping Program");

    // Motors already on: a new edge only resets.
    bus->SetInput(3, false);
    Cycles(1);
    bus->SetInput(3, true);
    Cycles(3);
    EXPECT_EQ(bus->EnableCalls().size(), 1u);
    EXPECT_EQ(bus->ResetErrorCount(), 2);

    // The reference request starts the sequence once.
    LogSingleton::instance()->SetPlcSettings([] {
        PlcSettings plc = ActivePlc();
        plc.referenceSequence[0] = 1;
        return plc;
    }());
    bus->SetInput(5, true);
    Cycles(3);
    EXPECT_EQ(bus->References(), std::vector<int>({1}));
    EXPECT_EQ(DisplayMessage(), "PLC: RefAll");
}

TEST_F(RobotOperations, PlcOutputsShowMotorsProgramAndReferencing) {
    Build();
    LogSingleton::instance()->SetPlcSettings(ActivePlc());
    bus->SetMotorEnabled(true);
    bus->allJointsReferenced = true;
    Cycles(1);
    DataTypes::RobotState s = State();
    EXPECT_TRUE(s.digitalOut[40]);
    EXPECT_FALSE(s.digitalOut[41]);
    EXPECT_TRUE(s.digitalOut[42]);
    EXPECT_EQ(bus->OutputValue(true, 2, 0), 1);  // output 40 is bit 0 of I/O module 2

    // Inactive interface: outputs are left to the operator.
    LogSingleton::instance()->SetPlcSettings(PlcSettings());
    robot->SetManualDOut(40, false);
    Cycles(1);
    EXPECT_FALSE(State().digitalOut[40]);
}

TEST_F(RobotOperations, ReferenceSequenceSkipsNegativeEntriesAfterTheInterval) {
    Build();
    PlcSettings plc = ActivePlc();
    plc.referenceSequence[0] = 0;
    plc.referenceSequence[1] = -1;
    plc.referenceSequence[2] = 2;
    LogSingleton::instance()->SetPlcSettings(plc);
    int64_t now = 100000000;  // 100 s
    robot->SetClock([&now] { return now; });

    robot->ReferenceAllJoints();
    EXPECT_EQ(DisplayMessage(), "Ref All Joints");
    Cycles(1);
    EXPECT_EQ(bus->References(), std::vector<int>({0}));
    now += 5000000;  // exactly 5 whole seconds: not more than the interval
    Cycles(3);
    EXPECT_EQ(bus->References(), std::vector<int>({0}));
    now += 1000000;
    Cycles(1);  // skips -1
    EXPECT_EQ(bus->References(), std::vector<int>({0}));
    Cycles(1);
    EXPECT_EQ(bus->References(), std::vector<int>({0, 2}));
    // The rest of the sequence is empty: after another interval it runs out.
    now += 6000000;
    Cycles(10);
    EXPECT_EQ(bus->References(), std::vector<int>({0, 2}));

    // A reset ends a running sequence.
    robot->ReferenceAllJoints();
    robot->Reset();
    now += 6000000;
    Cycles(3);
    EXPECT_EQ(bus->References(), std::vector<int>({0, 2}));
}

TEST_F(RobotOperations, DigitalOutputsMapToModulesAndRails) {
    Build();
    for (int channel : {5, 15, 25, 35, 45, 55}) robot->SetManualDOut(channel, true);
    robot->SetManualDOut(64, true);   // outside 0...63: only logged
    robot->SetManualDOut(-1, true);
    Cycles(1);
    EXPECT_EQ(bus->OutputValue(false, 0, 5), 1);
    EXPECT_EQ(bus->OutputValue(false, 3, 15), 1);
    EXPECT_EQ(bus->OutputValue(true, 0, 5), 1);
    EXPECT_EQ(bus->OutputValue(true, 1, 5), 1);
    EXPECT_EQ(bus->OutputValue(true, 2, 5), 1);
    EXPECT_EQ(bus->OutputValue(false, 0, 4), 0);
    EXPECT_EQ(bus->IOCallCount(), 50);  // outputs 50 to 63 go nowhere
    DataTypes::RobotState s = State();
    EXPECT_TRUE(s.digitalOut[5]);
    EXPECT_TRUE(s.digitalOut[55]);
    EXPECT_EQ(s.DigitalOutBits(), (1ull << 5) | (1ull << 15) | (1ull << 25) | (1ull << 35) | (1ull << 45) | (1ull << 55));

    robot->SetManualDOut(5, false);
    bus->ClearIOCalls();
    Cycles(1);
    EXPECT_EQ(bus->OutputValue(false, 0, 5), 0);

    bus->SetInput(7, true);
    Cycles(1);
    EXPECT_TRUE(State().digitalIn[7]);
}

TEST_F(RobotOperations, ResetTakesMeasuredJointsAsSetPoints) {
    Build();
    bus->SetMeasuredOffset(0.25f);
    Jog(0, 100.0f);
    Cycles(3);
    DataTypes::RobotState before = State();
    ASSERT_NEAR(before.jointCurrent[0], before.jointSetPoint[0] + 0.25f, 1e-4f);
    robot->Reset();
    DataTypes::RobotState after = State();
    for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(after.jointSetPoint[i], before.jointCurrent[i]) << i;
    EXPECT_EQ(bus->ResetErrorCount(), 1);
    EXPECT_EQ(bus->PlatformZeroCount(), 1);
    EXPECT_FALSE(robot->IsPaused());

    // Without jog input the robot now stays where it was measured.
    float none[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    robot->SetJogValues(none);
    Cycles(1);
    EXPECT_FLOAT_EQ(bus->LastSent().jointSetPoint[0], before.jointCurrent[0]);
}

TEST_F(RobotOperations, ZeroingAllJointsMakesTheFollowingResetHoldZero) {
    Build();
    bus->SetMeasuredOffset(0.0f);
    Jog(0, 100.0f);
    Cycles(5);
    ASSERT_GT(State().jointCurrent[0], 1.0f);
    robot->ResetAllJointsToZero();
    robot->Reset();
    EXPECT_EQ(bus->ZeroPosCalls(), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(bus->EnableCalls(), std::vector<bool>({false}));
    float none[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    robot->SetJogValues(none);
    Cycles(1);
    EXPECT_FLOAT_EQ(bus->LastSent().jointSetPoint[0], 0.0f);
}

TEST_F(RobotOperations, BusCommandsLeaveThePauseFlagClear) {
    Build();
    robot->EnableMotors(true);
    robot->EnableMotors(false);
    robot->AlignMotors();
    robot->ReferenceJoints(3);
    EXPECT_EQ(bus->EnableCalls(), std::vector<bool>({true, false}));
    EXPECT_EQ(bus->AlignCount(), 1);
    EXPECT_EQ(bus->References(), std::vector<int>({3}));
    EXPECT_EQ(DisplayMessage(), "Aligning Motors");
    EXPECT_FALSE(robot->IsPaused());
}

TEST_F(RobotOperations, StartProgramNeedsReferencingOnAConnectedBus) {
    Build();
    bus->SetConnected(true);
    bus->referencingMandatory = true;
    robot->StartProgram();
    EXPECT_EQ(DisplayMessage(), "Cannot start, robot not referenced!");
    bus->allJointsReferenced = true;
    robot->StartProgram();
    EXPECT_NE(DisplayMessage(), "Cannot start, robot not referenced!");
    // Not connected (debug mode without a bus): starting is permitted.
    bus->allJointsReferenced = false;
    bus->SetConnected(false);
    robot->StartProgram();
    EXPECT_NE(DisplayMessage(), "Cannot start, robot not referenced!");
}

TEST_F(RobotOperations, OverrideIsLimitedToZeroToHundred) {
    Build();
    EXPECT_FLOAT_EQ(robot->SetOverride(150.0f), 100.0f);
    EXPECT_FLOAT_EQ(robot->SetOverride(-20.0f), 0.0f);
    EXPECT_FLOAT_EQ(robot->SetOverride(37.5f), 37.5f);
    EXPECT_FLOAT_EQ(robot->SetOverride(std::nanf("")), 37.5f);
    Cycles(1);
    EXPECT_FLOAT_EQ(State().override, 37.5f);
}

TEST_F(RobotOperations, MotionModesCycleAndIgnoreUnknownValues) {
    Build();
    robot->SetMotionMode(4);
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::PLATFORM_CART);
    robot->SetMotionMode(0);
    robot->SetMotionMode(5);
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::PLATFORM_CART);
    robot->ToggleMotionMode();
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::ROBOT_JOINT);
    robot->ToggleMotionMode();
    EXPECT_EQ(robot->GetMotionMode(), RobotMaster::ROBOT_CART_BASE);

    // Platform jog moves the wheels, not the arm.
    robot->SetMotionMode(4);
    Jog(0, 100.0f);
    Cycles(2);
    DataTypes::RobotState s = State();
    EXPECT_FLOAT_EQ(s.platformSetPoint[0], 10.0f);
    EXPECT_FLOAT_EQ(s.jointSetPoint[0], 0.0f);
}

TEST_F(RobotOperations, ProgramStatusWithoutAProgram) {
    Build();
    Cycles(1);
    DataTypes::RobotState s = State();
    EXPECT_EQ(s.programStatus[0], -1);
    EXPECT_EQ(s.programStatus[1], 0);
    EXPECT_EQ(s.programStatus[2], 0);
}

// The real thread: moves the robot while jogged, counts statistics, and is
// stopped and joined by the destructor (run under the sanitizers).
TEST_F(RobotOperations, CycleThreadRunsAndReportsFrequency) {
    Build();
    robot->StartMainLoop();
    auto jogUntil = [this](float target) {
        DataTypes::RobotState s;
        for (int i = 0; i < 1000; ++i) {
            Jog(0, 100.0f);
            robot->GetValues(&s);
            if (s.jointSetPoint[0] > target) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return s.jointSetPoint[0];
    };
    EXPECT_GT(jogUntil(3.0f), 3.0f);
    robot->Reset();  // an operation while the thread runs
    EXPECT_FALSE(robot->IsPaused());
    EXPECT_GT(jogUntil(12.0f), 12.0f);  // more than one 20-cycle window after the pause
    robot->StopMainLoop();
    EXPECT_GT(robot->GetFrequency(), 0.0f);
    robot->GetFrequency();
    EXPECT_FALSE(robot->IsLoopRunning());
}
