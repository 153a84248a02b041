#include "PkgDataTypes/RobotState.h"

#include <gtest/gtest.h>

using DataTypes::RobotState;

TEST(RobotStateRecord, DefaultsAndText) {
    RobotState s;
    EXPECT_EQ(s.ToStringPos(), "( 0.000000 0.000000 0.000000 )");
    EXPECT_EQ(s.errorText, "n/a");
    EXPECT_EQ(s.programName, "");
    EXPECT_FLOAT_EQ(s.posCartRobot(0, 0), 0);  // not the identity
    EXPECT_FLOAT_EQ(s.posCartRobot(3, 3), 0);
    s.posCartRobot.SetTranslation(250, 0, 300);
    EXPECT_EQ(s.ToStringPos(), "( 250.000000 0.000000 300.000000 )");
    s.jointSetPoint[0] = 1.5f;
    s.jointSetPoint[2] = -3;
    s.jointSetPoint[3] = 99;
    EXPECT_EQ(s.ToStringJoints(), "( 1.500000 0.000000 -3.000000 )");
}

TEST(RobotStateRecord, CopiesAreDeep) {
    RobotState a;
    a.errorText = "NoError";
    a.jointError[15] = 7;
    a.posCartRobot.SetTranslation(1, 2, 3);
    RobotState b(a);
    b.errorText = "ESTOP";
    b.jointError[15] = 0;
    b.posCartRobot.SetTranslation(9, 9, 9);
    EXPECT_EQ(a.errorText, "NoError");
    EXPECT_EQ(a.jointError[15], 7);
    EXPECT_FLOAT_EQ(a.posCartRobot(0, 3), 1);
    RobotState c;
    c = a;
    c.programName = "x";
    EXPECT_EQ(a.programName, "");
    EXPECT_EQ(c.errorText, "NoError");
}

TEST(RobotStateRecord, DigitalBitsPacking) {
    RobotState s;
    s.digitalIn[0] = true;
    s.digitalIn[63] = true;
    EXPECT_EQ(s.DigitalInBits(), 9223372036854775809ULL);
    EXPECT_EQ(s.DigitalOutBits(), 0u);
    s.digitalOut[5] = true;
    EXPECT_EQ(s.DigitalOutBits(), 32u);
}
