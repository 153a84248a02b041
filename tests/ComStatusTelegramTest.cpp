#include "ComStatusTelegram.h"

#include <gtest/gtest.h>

#include "ComTelegram.h"

TEST(ComStatusTelegram, DecodesWhatTheServerSends) {
    DataTypes::RobotState s;
    for (int i = 0; i < 9; ++i) {
        s.jointSetPoint[i] = 1.25f * i;
        s.jointCurrent[i] = -2.5f * i;
        s.jointMotorCurrent[i] = 10 * i;
        s.jointError[i] = i;
    }
    s.posCartRobot(0, 3) = 250.0f;
    s.posCartRobot(2, 3) = 300.5f;
    s.posA = 45.0f;
    s.override = 40.0f;
    s.digitalIn[0] = s.digitalIn[63] = true;
    s.digitalOut[5] = true;
    s.emergencyStop = 1;
    s.supply = 2;
    s.currentAll = 3;
    s.errorText = "NoError";
    s.kinState = 99;

    ComStatusTelegram t;
    ASSERT_TRUE(t.Parse(ComTelegram::Status(42, s)));
    EXPECT_EQ(t.counter, 42);
    EXPECT_EQ(t.mode, "joint");
    EXPECT_FLOAT_EQ(t.jointSetPoint[6], 7.5f);
    EXPECT_FLOAT_EQ(t.jointCurrent[2], -5.0f);
    EXPECT_FLOAT_EQ(t.pose[0], 250.0f);
    EXPECT_FLOAT_EQ(t.pose[2], 300.5f);
    EXPECT_FLOAT_EQ(t.pose[3], 45.0f);
    EXPECT_FLOAT_EQ(t.override, 40.0f);
    EXPECT_EQ(t.digitalIn, 9223372036854775809ull);
    EXPECT_EQ(t.digitalOut, 32u);
    EXPECT_EQ(t.emergencyStop, 1);
    EXPECT_EQ(t.supply, 2);
    EXPECT_EQ(t.currentAll, 3);
    EXPECT_EQ(t.jointMotorCurrent[6], 60);
    EXPECT_EQ(t.errorText, "NoError");
    EXPECT_EQ(t.jointError[6], 6);
    EXPECT_EQ(t.kinState, 99);
    EXPECT_EQ(t.ToReadable(),
              "STATUS #042 joints 0.00 1.25 2.50 3.75 5.00 6.25 7.50 | pose 250.0 0.0 300.5 "
              "45.00 0.00 0.00 | override 40.0 | DIN 8000000000000001 DOUT 0000000000000020 | "
              "estop 1 supply 2 current 3 | error NoError 0 1 2 3 4 5 6 | kin 99 "
              "MotionNotAllowed");
}

TEST(ComStatusTelegram, RejectsOtherOrTruncatedTexts) {
    DataTypes::RobotState s;
    std::string full = ComTelegram::Status(1, s);
    ComStatusTelegram t;
    EXPECT_FALSE(t.Parse("NEXSTART 1 MESSAGE hello NEXEND"));
    EXPECT_FALSE(t.Parse(full.substr(0, full.size() / 2)));
    std::string bad = full;
    bad.replace(bad.find("DIN 0"), 5, "DIN -1");
    EXPECT_FALSE(t.Parse(bad));
    EXPECT_EQ(t.counter, -1);  // unchanged by failed parses
    EXPECT_TRUE(t.Parse(full));
    EXPECT_EQ(t.errorText, "n/a");
}
