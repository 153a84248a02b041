#include "PkgKinematics/RobotKinematicRover.h"

#include <gtest/gtest.h>

#include <cmath>

#include "PkgKinematics/KinematicTestSupport.h"
#include "PkgKinematics/PlatformKinematic.h"

using KinTest::ThrownCode;

TEST(KinPlatform, JogIncrementsPerCycle) {
    PlatformKinematic p;
    float forward[3] = {100, 0, 0};
    p.JogPlatform(forward, 100.0f);
    float w[4];
    p.GetJoints(w);
    for (float v : w) EXPECT_FLOAT_EQ(v, 5.0f);

    PlatformKinematic turn;
    float t[3] = {0, 0, 100};
    turn.JogPlatform(t, 100.0f);
    turn.GetJoints(w);
    EXPECT_FLOAT_EQ(w[0], -5.0f);
    EXPECT_FLOAT_EQ(w[1], 5.0f);
    EXPECT_FLOAT_EQ(w[2], 5.0f);
    EXPECT_FLOAT_EQ(w[3], -5.0f);

    PlatformKinematic side;
    float s[3] = {0, -100, 0};
    side.JogPlatform(s, 50.0f);  // override 50 halves every increment
    side.GetJoints(w);
    EXPECT_FLOAT_EQ(w[0], -2.5f);
    EXPECT_FLOAT_EQ(w[1], 2.5f);
    EXPECT_FLOAT_EQ(w[2], -2.5f);
    EXPECT_FLOAT_EQ(w[3], 2.5f);
}

TEST(KinPlatform, ResetAndBoundedInput) {
    PlatformKinematic p;
    float start[4] = {1, 2, 3, 4};
    p.ResetLastJoints(start);
    // Corrupt input can neither move the wheels beyond full deflection nor poison them.
    float wild[3] = {1e9f, std::nanf(""), 0.0f};
    p.JogPlatform(wild, 100.0f);
    float w[4];
    p.GetJoints(w);
    EXPECT_FLOAT_EQ(w[0], 6.0f);
    EXPECT_FLOAT_EQ(w[3], 9.0f);
    float normal[3] = {20, 0, 0};
    p.JogPlatform(normal, std::nanf(""));
    p.GetJoints(w);
    EXPECT_FLOAT_EQ(w[0], 6.0f);
}

TEST(KinRover, InitAndSetJointsAcceptAnyFiniteValue) {
    RobotKinematicRover k;
    const std::string log = KinTest::CapturedLog([&] { k.Init("rover", "VKTRover", "none.xml"); });
    EXPECT_NE(log.find("RKRover: Init"), std::string::npos);
    EXPECT_EQ(k.jointCount, 4);
    EXPECT_EQ(k.maxJointVelocities[3], 100.0f);
    EXPECT_EQ(k.jointMax[0], 0.0f);
    float q[4] = {1000.0f, -1000.0f, 5.0f, 7.0f};
    k.SetJoints(q, true);  // limits 0..0 are not tested
    float out[4];
    k.GetJoints(out);
    EXPECT_EQ(out[0], 1000.0f);
    EXPECT_EQ(out[1], -1000.0f);
    EXPECT_EQ(k.pose(2, 3), 0.0f);  // no pose change
    float bad[4] = {0.0f, INFINITY, 0.0f, 0.0f};
    EXPECT_EQ(ThrownCode([&] { k.SetJoints(bad, true); }), 13);
    EXPECT_EQ(k.joints[1], -1000.0f);
    // The pose form of SetPosition does nothing on the platform.
    DataTypes::Matrix44 t;
    t.SetTranslation(10.0f, 20.0f, 30.0f);
    k.SetPosition(t);
    EXPECT_EQ(k.pose(0, 3), 0.0f);
}

TEST(KinRover, PlatformTargetBecomesWheelIncrements) {
    RobotKinematicRover k;
    float forward[4] = {314.72818f, 0.0f, 0.0f, 0.0f};  // one wheel turn forward
    k.SetPosition(forward);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(k.joints[i], -360.0f, 1e-3);
    EXPECT_EQ(k.pose(0, 3), 314.72818f);
    EXPECT_EQ(k.pose(2, 3), 160.0f);

    RobotKinematicRover s;
    float side[4] = {0.0f, 314.72818f, 0.0f, 0.0f};
    s.SetPosition(side);
    EXPECT_NEAR(s.joints[0], -360.0f, 1e-3);
    EXPECT_NEAR(s.joints[1], 360.0f, 1e-3);
    EXPECT_NEAR(s.joints[2], -360.0f, 1e-3);
    EXPECT_NEAR(s.joints[3], 360.0f, 1e-3);

    RobotKinematicRover r;
    float turn[4] = {0.0f, 0.0f, 0.0f, 90.0f};
    r.SetPosition(turn);
    const double expected = 90.0 * 1350.63 / 360.0 / 314.7281799316406 * -514.8;
    EXPECT_NEAR(r.joints[0], expected, 1e-2);
    EXPECT_NEAR(r.joints[1], -expected, 1e-2);
    EXPECT_NEAR(r.joints[2], -expected, 1e-2);
    EXPECT_NEAR(r.joints[3], expected, 1e-2);
    EXPECT_EQ(r.orientationA, 90.0f);
    // The same target again moves nothing.
    r.SetPosition(turn);
    EXPECT_NEAR(r.joints[0], expected, 1e-2);
    float nanTarget[4] = {std::nanf(""), 0.0f, 0.0f, 0.0f};
    EXPECT_EQ(ThrownCode([&] { r.SetPosition(nanTarget); }), 22);
    EXPECT_NEAR(r.joints[0], expected, 1e-2);
}
