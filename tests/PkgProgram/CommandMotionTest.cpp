#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandRelative.h"
#include "support/ThrownText.h"

namespace {

DataTypes::RobotState PoseState(float x, float y, float z, float a = 0, float b = 0, float c = 0)
{
    DataTypes::RobotState s;
    s.posCartRobot = DataTypes::Matrix44();
    s.posCartRobot.ABCToMatrix(a, b, c);
    s.posCartRobot.SetTranslation(x, y, z);
    s.posA = a;
    s.posB = b;
    s.posC = c;
    return s;
}

// Rotation angle (degrees) between the orientations of two poses, from M = Pᵀ·Q; atan2 of
// the sine (antisymmetric part) and cosine (trace) stays accurate for small angles.
float AngleBetween(const DataTypes::Matrix44& p, const DataTypes::Matrix44& q)
{
    double m[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            m[r][c] = 0.0;
            for (int k = 0; k < 3; ++k)
                m[r][c] += static_cast<double>(p(k, r)) * q(k, c);
        }
    double cosine = (m[0][0] + m[1][1] + m[2][2] - 1.0) / 2.0;
    double sx = m[2][1] - m[1][2], sy = m[0][2] - m[2][0], sz = m[1][0] - m[0][1];
    double sine = 0.5 * std::sqrt(sx * sx + sy * sy + sz * sz);
    return static_cast<float>(std::atan2(sine, cosine) * 180.0 / M_PI);
}

TEST(CommandJointTest, JointsArriveTogetherAndLandExactly)
{
    CommandJoint cmd;
    cmd.successor[0] = 7;
    cmd.velocityPercent = 50.0f;
    float target[9] = {90.0f, -45.0f, 10.0f, 0.0f, 30.0f, 0.0f, 5.0f, 0.0f, 0.0f};
    std::copy(target, target + 9, cmd.targetState.jointSetPoint);
    DataTypes::RobotState s;

    // Leading joint 1: 90 degrees at 50 % of 45 deg/s = 22.5 deg/s, 0.225 deg per 10 ms.
    int result = -1;
    int calls = 0;
    while (result == -1 && calls < 10000) {
        DataTypes::RobotState before = s;
        result = cmd.Interpolate(10, 100.0f, &s);
        ++calls;
        if (result == -1) {
            // Every joint covers the same fraction of its way in each step.
            float fraction = (s.jointSetPoint[0] - before.jointSetPoint[0]) /
                             (target[0] - before.jointSetPoint[0]);
            for (int i : {1, 2, 4, 6})
                EXPECT_NEAR(fraction,
                            (s.jointSetPoint[i] - before.jointSetPoint[i]) /
                                (target[i] - before.jointSetPoint[i]),
                            1e-3f)
                    << "joint " << i << " call " << calls;
        }
    }
    EXPECT_EQ(7, result);
    EXPECT_EQ(401, calls);  // 400 steps of 0.225 degrees, then the landing call
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(target[i], s.jointSetPoint[i]) << i;
    EXPECT_TRUE(cmd.firstCall);
}

TEST(CommandJointTest, TargetAtCurrentPositionFinishesAtOnce)
{
    CommandJoint cmd;
    cmd.successor[0] = 3;
    cmd.velocityPercent = 20.0f;
    cmd.targetState.jointSetPoint[2] = 12.0f;
    cmd.targetState.jointSetPoint[7] = 4.0f;  // external axis only: no leading joint
    DataTypes::RobotState s;
    s.jointSetPoint[2] = 12.0f;
    EXPECT_EQ(3, cmd.Interpolate(10, 100.0f, &s));
    EXPECT_EQ(4.0f, s.jointSetPoint[7]);
}

TEST(CommandJointTest, ZeroOrNegativeVelocityNeverMoves)
{
    for (float velocity : {0.0f, -50.0f}) {
        CommandJoint cmd;
        cmd.velocityPercent = velocity;
        cmd.targetState.jointSetPoint[0] = 10.0f;
        DataTypes::RobotState s;
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(-1, cmd.Interpolate(10, 100.0f, &s));
        EXPECT_EQ(0.0f, s.jointSetPoint[0]) << velocity;
    }
}

TEST(CommandJointTest, OverrideChangeRecordsLastOverride)
{
    CommandJoint cmd;
    cmd.velocityPercent = 100.0f;
    cmd.targetState.jointSetPoint[0] = 100.0f;
    DataTypes::RobotState s;
    cmd.Interpolate(10, 100.0f, &s);
    EXPECT_FLOAT_EQ(0.45f, s.jointSetPoint[0]);
    EXPECT_FALSE(cmd.firstCall);
    cmd.Interpolate(10, 50.0f, &s);
    EXPECT_FLOAT_EQ(50.0f, cmd.lastOverride);
    EXPECT_NEAR(0.675f, s.jointSetPoint[0], 1e-5f);
}

TEST(CommandLinearTest, HundredMillimetresAtFiftyTakeTwoHundredSteps)
{
    CommandLinear cmd;
    cmd.successor[0] = 5;
    cmd.cartVelocity = 50.0f;
    cmd.targetState = PoseState(100.0f, 0.0f, 0.0f);
    DataTypes::RobotState s = PoseState(0.0f, 0.0f, 0.0f);
    for (int i = 1; i <= 200; ++i) {
        ASSERT_EQ(-1, cmd.Interpolate(10, 100.0f, &s)) << i;
        ASSERT_NEAR(0.5f * static_cast<float>(i), s.posCartRobot(0, 3), 1e-3f) << i;
    }
    EXPECT_FLOAT_EQ(100.0f, s.posCartRobot(0, 3));
    EXPECT_EQ(5, cmd.Interpolate(10, 100.0f, &s));
    EXPECT_TRUE(cmd.firstCall);
    EXPECT_NEAR(0.0f, AngleBetween(s.posCartRobot, cmd.targetState.posCartRobot), 0.01f);
}

TEST(CommandLinearTest, PureRotationTurnsAtRotationSpeed)
{
    CommandLinear cmd;
    cmd.successor[0] = 1;
    cmd.rotVelocity = 90.0f;
    cmd.targetState = PoseState(10.0f, 20.0f, 30.0f, 45.0f, 0.0f, 0.0f);
    DataTypes::RobotState s = PoseState(10.0f, 20.0f, 30.0f);
    // 0.9 degrees per 10 ms call at 100 %, 0.45 at 50 %.
    ASSERT_EQ(-1, cmd.Interpolate(10, 50.0f, &s));
    EXPECT_NEAR(0.45f, AngleBetween(s.posCartRobot, PoseState(0, 0, 0).posCartRobot), 1e-2f);
    int calls = 1;
    int result = -1;
    while (result == -1 && calls < 1000) {
        result = cmd.Interpolate(10, 100.0f, &s);
        ++calls;
    }
    EXPECT_EQ(1, result);
    EXPECT_EQ(52, calls);  // 0.45 + 49 × 0.9 + 0.45 = 45 degrees in 51 calls, then the finish
    EXPECT_NEAR(0.0f, AngleBetween(s.posCartRobot, cmd.targetState.posCartRobot), 0.1f);
    EXPECT_FLOAT_EQ(20.0f, s.posCartRobot(1, 3));
}

TEST(CommandLinearTest, TranslationAndRotationEndTogether)
{
    CommandLinear cmd;
    cmd.cartVelocity = 100.0f;
    cmd.rotVelocity = 90.0f;
    cmd.targetState = PoseState(50.0f, 0.0f, 0.0f, 0.0f, 0.0f, 90.0f);  // 1 s of rotation
    DataTypes::RobotState s = PoseState(0.0f, 0.0f, 0.0f);
    int calls = 0;
    while (cmd.Interpolate(10, 100.0f, &s) == -1 && calls < 1000) {
        ++calls;
        if (calls == 50) {
            EXPECT_NEAR(25.0f, s.posCartRobot(0, 3), 0.05f);
            EXPECT_NEAR(45.0f, AngleBetween(s.posCartRobot, PoseState(0, 0, 0).posCartRobot),
                        0.05f);
        }
    }
    EXPECT_EQ(100, calls);
    EXPECT_NEAR(0.0f, AngleBetween(s.posCartRobot, cmd.targetState.posCartRobot), 0.1f);
}

TEST(CommandLinearTest, HalfTurnKeepsAUsableAxis)
{
    CommandLinear cmd;
    cmd.rotVelocity = 90.0f;
    cmd.targetState = PoseState(0.0f, 0.0f, 0.0f, 180.0f, 0.0f, 0.0f);
    DataTypes::RobotState s = PoseState(0.0f, 0.0f, 0.0f);
    int calls = 0;
    while (cmd.Interpolate(10, 100.0f, &s) == -1 && calls < 1000)
        ++calls;
    for (int i = 0; i < 16; ++i)
        ASSERT_TRUE(std::isfinite(s.posCartRobot.m[i]));
    EXPECT_NEAR(0.0f, AngleBetween(s.posCartRobot, cmd.targetState.posCartRobot), 0.2f);
}

TEST(CommandLinearTest, ZeroSpeedsNeverProduceNaN)
{
    CommandLinear cmd;
    cmd.cartVelocity = 0.0f;
    cmd.targetState = PoseState(0.0f, 0.0f, 0.0f, 30.0f, 0.0f, 0.0f);  // no translation
    DataTypes::RobotState s = PoseState(0.0f, 0.0f, 0.0f);
    int calls = 0;
    while (cmd.Interpolate(10, 100.0f, &s) == -1 && calls < 1000)
        ++calls;
    EXPECT_LT(calls, 1000);
    for (int i = 0; i < 16; ++i)
        ASSERT_TRUE(std::isfinite(s.posCartRobot.m[i]));

    CommandLinear stalled;
    stalled.cartVelocity = 0.0f;
    stalled.targetState = PoseState(10.0f, 0.0f, 0.0f);
    DataTypes::RobotState t = PoseState(0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(-1, stalled.Interpolate(10, 100.0f, &t));
    EXPECT_EQ(0.0f, t.posCartRobot(0, 3));
}

TEST(CommandLinearTest, VariableSourceTakesTargetFromMemory)
{
    std::vector<MemoryPosition> memory;
    MemoryPosition p;
    p.name = "goal";
    p.type = "position";
    p.state = PoseState(0.0f, 2.0f, 0.0f);
    p.state.jointSetPoint[6] = 7.0f;
    memory.push_back(p);
    CommandLinear cmd;
    cmd.memory = &memory;
    cmd.source = "variable";
    cmd.variableName = "goal";
    cmd.cartVelocity = 100.0f;
    cmd.successor[0] = 2;
    DataTypes::RobotState s = PoseState(0.0f, 0.0f, 0.0f);
    int calls = 0;
    int result;
    while ((result = cmd.Interpolate(10, 100.0f, &s)) == -1 && calls < 100)
        ++calls;
    EXPECT_EQ(2, result);
    EXPECT_FLOAT_EQ(2.0f, s.posCartRobot(1, 3));
    EXPECT_FLOAT_EQ(7.0f, cmd.targetState.jointSetPoint[6]);

    CommandLinear missing;
    missing.memory = &memory;
    missing.source = "variable";
    missing.variableName = "nowhere";
    EXPECT_EQ("Command: could not find variable", ThrownText([&] { missing.Interpolate(10, 100.0f, &s); }));
}

TEST(CommandLinearTest, SingularCurrentPoseThrowsText)
{
    CommandLinear cmd;
    cmd.targetState = PoseState(1.0f, 0.0f, 0.0f);
    DataTypes::RobotState zero;  // all-zero pose matrix
    EXPECT_EQ("CommandLinear: current pose cannot be inverted", ThrownText([&] { cmd.Interpolate(10, 100.0f, &zero); }));
}

TEST(CommandRelativeTest, JointDeltasFromCurrentPosition)
{
    CommandRelative cmd;
    cmd.relativeMode = 0;
    cmd.velocityPercent = 100.0f;
    cmd.deltaState.jointSetPoint[1] = 9.0f;
    cmd.deltaState.jointSetPoint[6] = -3.0f;
    cmd.successor[0] = 4;
    DataTypes::RobotState s;
    s.jointSetPoint[1] = 1.0f;
    s.jointSetPoint[6] = 3.0f;
    ASSERT_EQ(-1, cmd.Interpolate(10, 100.0f, &s));  // the first call steps as well
    EXPECT_FLOAT_EQ(1.45f, s.jointSetPoint[1]);
    int calls = 1;
    int result;
    while ((result = cmd.Interpolate(10, 100.0f, &s)) == -1 && calls < 1000)
        ++calls;
    EXPECT_EQ(4, result);
    EXPECT_EQ(10.0f, s.jointSetPoint[1]);
    EXPECT_EQ(0.0f, s.jointSetPoint[6]);
}

TEST(CommandRelativeTest, BaseFrameMovesAlongBaseAxes)
{
    CommandRelative cmd;  // base frame by default
    cmd.cartVelocity = 100.0f;
    cmd.deltaState.posCartRobot.SetTranslation(0.0f, 0.0f, 10.0f);
    cmd.successor[0] = 6;
    DataTypes::RobotState s = PoseState(5.0f, 5.0f, 5.0f, 90.0f, 0.0f, 0.0f);
    int calls = 0;
    int result;
    while ((result = cmd.Interpolate(10, 100.0f, &s)) == -1 && calls < 1000)
        ++calls;
    EXPECT_EQ(6, result);
    EXPECT_EQ(10, calls);  // 1 mm per step until within 0.5 mm, then the snap
    EXPECT_FLOAT_EQ(15.0f, s.posCartRobot(2, 3));
    EXPECT_FLOAT_EQ(5.0f, s.posCartRobot(0, 3));
    EXPECT_NEAR(0.0f, AngleBetween(s.posCartRobot, PoseState(0, 0, 0, 90.0f).posCartRobot),
                1e-3f);
}

TEST(CommandRelativeTest, ZeroDeltaFinishesOnFirstCall)
{
    CommandRelative cmd;
    cmd.cartVelocity = 10.0f;
    cmd.successor[0] = 2;
    DataTypes::RobotState s = PoseState(1.0f, 2.0f, 3.0f);
    EXPECT_EQ(2, cmd.Interpolate(10, 100.0f, &s));
}

TEST(CommandRelativeTest, ToolFrameXOfToolTurnedAboutZMovesAlongBaseY)
{
    CommandRelative cmd;
    cmd.relativeMode = 2;
    cmd.cartVelocity = 50.0f;
    cmd.deltaState.posCartRobot.SetTranslation(20.0f, 0.0f, 0.0f);
    DataTypes::RobotState s = PoseState(100.0f, 0.0f, 50.0f, 90.0f, 0.0f, 0.0f);
    int calls = 0;
    while (cmd.Interpolate(10, 100.0f, &s) == -1 && calls < 1000) {
        ++calls;
        ASSERT_NEAR(100.0f, s.posCartRobot(0, 3), 1e-3f);
    }
    EXPECT_NEAR(100.0f, s.posCartRobot(0, 3), 1e-3f);
    EXPECT_NEAR(20.0f, s.posCartRobot(1, 3), 1e-3f);
    EXPECT_NEAR(50.0f, s.posCartRobot(2, 3), 1e-3f);
}

TEST(CommandRelativeTest, NegativeSpeedDoesNotMoveAway)
{
    CommandRelative cmd;
    cmd.cartVelocity = -50.0f;
    cmd.deltaState.posCartRobot.SetTranslation(10.0f, 0.0f, 0.0f);
    DataTypes::RobotState s = PoseState(0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(-1, cmd.Interpolate(10, 100.0f, &s));
    EXPECT_EQ(0.0f, s.posCartRobot(0, 3));
}

}  // namespace
