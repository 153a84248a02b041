#include <gtest/gtest.h>

#include <cmath>

#include "support/RobotFixture.h"

using RobotCycle = RobotFixture;

TEST_F(RobotCycle, JointJogAdvancesByJogSpeedOverrideAndCycleTime) {
    Build();
    Cycles(1);
    const float start = State().jointSetPoint[0];
    Jog(0, 100.0f);
    Cycles(1);
    EXPECT_NEAR(State().jointSetPoint[0] - start, 0.3f, 1e-4f);
    Cycles(1);
    EXPECT_NEAR(State().jointSetPoint[0] - start, 0.6f, 1e-4f);

    // Jog values beyond 100 % are limited; half override halves the step.
    robot->SetOverride(50.0f);
    Jog(1, 250.0f);
    Cycles(1);
    EXPECT_NEAR(State().jointSetPoint[1], 0.15f, 1e-4f);
    EXPECT_EQ(State().kinState, 0);
    // What was sent to the bus is the new set-point, and it is read back.
    EXPECT_NEAR(bus->LastSent().jointSetPoint[1], 0.15f, 1e-4f);
    EXPECT_NEAR(State().jointCurrent[1], 0.15f, 1e-4f);
}

TEST_F(RobotCycle, JogDecayHoldsThirtyCyclesThenFallsByFiveHundredths) {
    Build();
    float jog[9] = {50.0f, -50.0f, 0.04f, 0, 0, 0, 80.0f, 70.0f, 60.0f};
    robot->SetJogValues(jog);
    float now[9];
    for (int i = 0; i < 30; ++i) robot->CheckJogValues();
    robot->GetJogValues(now);
    EXPECT_FLOAT_EQ(now[0], 50.0f);
    EXPECT_FLOAT_EQ(now[2], 0.04f);
    robot->CheckJogValues();
    robot->GetJogValues(now);
    EXPECT_NEAR(now[0], 49.95f, 1e-4f);
    EXPECT_NEAR(now[1], -49.95f, 1e-4f);
    EXPECT_EQ(now[2], 0.0f);
    // Gripper and spare values do not decay.
    EXPECT_FLOAT_EQ(now[6], 80.0f);
    EXPECT_FLOAT_EQ(now[8], 60.0f);
    // A fresh SetJogValues holds again for 30 cycles.
    robot->SetJogValues(jog);
    robot->CheckJogValues();
    robot->GetJogValues(now);
    EXPECT_FLOAT_EQ(now[0], 50.0f);
}

TEST_F(RobotCycle, CartesianBaseJogMovesAlongBaseAxesWithAnyToolOrientation) {
    Build();
    float joints[6] = {100.0f, 0.0f, 50.0f, 90.0f, 0.0f, 0.0f};  // tool turned 90 deg about z
    kin->SetJoints(joints, false);
    robot->SetMotionMode(2);
    ASSERT_EQ(robot->GetMotionMode(), RobotMaster::ROBOT_CART_BASE);
    Jog(0, 100.0f);  // X at 100 mm/s for 10 ms
    Cycles(1);
    DataTypes::RobotState s = State();
    EXPECT_NEAR(s.posCartRobot(0, 3), 101.0f, 1e-3f);
    EXPECT_NEAR(s.posCartRobot(1, 3), 0.0f, 1e-3f);
    EXPECT_NEAR(s.posA, 90.0f, 1e-2f);
}

TEST_F(RobotCycle, CartesianToolJogFollowsTheToolAxes) {
    Build();
    float joints[6] = {100.0f, 0.0f, 50.0f, 90.0f, 0.0f, 0.0f};
    kin->SetJoints(joints, false);
    robot->SetMotionMode(3);
    Jog(0, 100.0f);  // tool X, which points along base Y
    Cycles(1);
    DataTypes::RobotState s = State();
    EXPECT_NEAR(s.posCartRobot(0, 3), 100.0f, 1e-3f);
    EXPECT_NEAR(s.posCartRobot(1, 3), 1.0f, 1e-3f);

    // Rotation about the tool's own z: 30 deg/s for 10 ms.
    Jog(3, 100.0f);
    Cycles(1);
    EXPECT_NEAR(State().posA, 90.3f, 1e-2f);
}

TEST_F(RobotCycle, MotionNeedsNoErrorUnlessInDebugMode) {
    Build(false);
    bus->SetErrorShort("JointError");
    Cycles(1);
    Jog(0, 100.0f);
    Cycles(3);
    EXPECT_EQ(State().kinState, 99);
    EXPECT_EQ(State().jointSetPoint[0], 0.0f);
    EXPECT_EQ(State().errorText, "JointError");

    bus->SetErrorShort("NoError");
    Cycles(2);  // the first cycle still sees the old error text
    EXPECT_EQ(State().kinState, 0);
    EXPECT_GT(State().jointSetPoint[0], 0.0f);
}

TEST_F(RobotCycle, CartesianJogWaitsForReferencingButTheGripperStillJogs) {
    Build();
    bus->SetConnected(true);
    bus->referencingMandatory = true;
    bus->allJointsReferenced = false;
    float joints[6] = {100.0f, 0.0f, 50.0f, 0.0f, 0.0f, 0.0f};
    kin->SetJoints(joints, false);
    robot->SetMotionMode(2);
    float jog[9] = {100.0f, 0, 0, 0, 0, 0, 100.0f, 0, 0};
    robot->SetJogValues(jog);
    Cycles(5);
    EXPECT_NEAR(State().posCartRobot(0, 3), 100.0f, 1e-4f);
    EXPECT_EQ(kin->setPositionCalls, 0);
    EXPECT_FLOAT_EQ(robot->GetTool().GetTargetValue(), 45.0f);  // 30 + 5 * 3

    bus->allJointsReferenced = true;
    Cycles(1);
    EXPECT_NEAR(State().posCartRobot(0, 3), 101.0f, 1e-3f);
}

TEST_F(RobotCycle, KinematicErrorIsPublishedAndTheSetPointStays) {
    Build();
    kin->jointMax[0] = 0.5f;
    Jog(0, 100.0f);
    Cycles(1);
    EXPECT_EQ(State().kinState, 0);
    Cycles(2);  // 0.6 would pass the maximum while moving up
    EXPECT_EQ(State().kinState, 14);
    EXPECT_NEAR(State().jointSetPoint[0], 0.3f, 1e-4f);
    // Jogging back down is accepted again.
    Jog(0, -100.0f);
    Cycles(1);
    EXPECT_EQ(State().kinState, 0);
    EXPECT_NEAR(State().jointSetPoint[0], 0.0f, 1e-4f);
}
