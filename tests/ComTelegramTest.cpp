#include "ComTelegram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Words.h"

TEST(ComTelegram, StatusTelegramFieldByField) {
    DataTypes::RobotState s;
    for (int i = 0; i < 9; ++i) {
        s.jointSetPoint[i] = 10.0f * i + 0.125f;
        s.jointCurrent[i] = i == 0 ? 0.0f : -1.5f * i;
    }
    s.posCartRobot(0, 3) = 250.04f;
    s.posCartRobot(1, 3) = -12.36f;
    s.posCartRobot(2, 3) = 300.0f;
    s.posA = 90.0f;
    s.posB = -0.126f;
    s.posC = 180.0f;
    s.override = 40.0f;
    s.digitalIn[0] = true;
    s.digitalIn[63] = true;
    s.digitalOut[2] = true;
    s.emergencyStop = 1;
    s.supply = 24;
    s.currentAll = 1234;
    for (int i = 0; i < 16; ++i) {
        s.jointMotorCurrent[i] = 100 + i;
        s.jointError[i] = i;
    }
    s.errorText = "NoError";
    s.kinState = 23;

    const std::string t = ComTelegram::Status(998, s);
    ASSERT_EQ(t.back(), '\n');
    const std::string expected =
        "NEXSTART 998 STATUS MODE joint POSJOINTSETPOINT 0.12 10.12 20.12 30.12 40.12 50.12 "
        "60.12 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 POSJOINTCURRENT 0.00 -1.50 -3.00 -4.50 -6.00 "
        "-7.50 -9.00 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 0.0 POSCARTROBOT 250.0 -12.4 300.0 90.00 "
        "-0.13 180.00 POSCARTPLATTFORM 0.0 0.0 0.0 OVERRIDE 40.0 DIN 9223372036854775809 DOUT 4 "
        "ESTOP 1 SUPPLY 24 CURRENTALL 1234 CURRENTJOINTS 100 101 102 103 104 105 106 0 0 0 0 0 "
        "0 0 0 0 ERROR NoError 0 1 2 3 4 5 6 4 4 4 4 4 4 4 4 4 KINSTATE 23 NEXEND\n";
    EXPECT_EQ(t, expected);

    // The group words stand where the front-end expects them.
    std::vector<std::string> tok = Words(t);
    ASSERT_EQ(tok.size(), 100u);
    EXPECT_EQ(tok[5], "POSJOINTSETPOINT");
    EXPECT_EQ(tok[22], "POSJOINTCURRENT");
    EXPECT_EQ(tok[39], "POSCARTROBOT");
    EXPECT_EQ(tok[46], "POSCARTPLATTFORM");
    EXPECT_EQ(tok[50], "OVERRIDE");
    EXPECT_EQ(tok[52], "DIN");
    EXPECT_EQ(tok[62], "CURRENTJOINTS");
    EXPECT_EQ(tok[79], "ERROR");
    EXPECT_EQ(tok[97], "KINSTATE");
    EXPECT_EQ(tok[99], "NEXEND");
}

TEST(ComTelegram, DefaultStateAndOtherMessages) {
    DataTypes::RobotState s;
    const std::string t = ComTelegram::Status(0, s);
    EXPECT_EQ(t.rfind("NEXSTART 0 STATUS MODE joint POSJOINTSETPOINT 0.00 ", 0), 0u);
    EXPECT_NE(t.find(" DIN 0 DOUT 0 "), std::string::npos);
    EXPECT_NE(t.find(" ERROR n/a 0 "), std::string::npos);

    EXPECT_EQ(ComTelegram::Message(5, "Program done"), "NEXSTART 5 MESSAGE Program done NEXEND\n");
    EXPECT_EQ(ComTelegram::Answer(17, "INFO ProgramName p.xml 3 0"),
              "NEXSTART 17 INFO ProgramName p.xml 3 0 NEXEND\n");
    // Long texts are not cut.
    std::string long_text(3000, 'm');
    EXPECT_EQ(ComTelegram::Message(1, long_text).size(), 3000u + 27u);
}
