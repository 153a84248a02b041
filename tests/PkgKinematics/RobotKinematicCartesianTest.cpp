#include "PkgKinematics/RobotKinematicCartesian.h"

#include <gtest/gtest.h>

#include <random>

#include "PkgKinematics/KinematicTestSupport.h"
#include "support/TempDir.h"

using DataTypes::Matrix44;
using KinTest::ConfigFailure;
using KinTest::ThrownCode;

TEST(KinCartesian, DefaultGeometryKnownPositions) {
    RobotKinematicCartesian k;
    float zero[3] = {0, 0, 0};
    k.SetJoints(zero, true);
    EXPECT_FLOAT_EQ(k.pose(0, 3), -195.0f);
    EXPECT_FLOAT_EQ(k.pose(1, 3), -250.0f);
    EXPECT_FLOAT_EQ(k.pose(2, 3), 130.0f);
    float q[3] = {10, 20, 30};
    k.SetJoints(q, true);
    EXPECT_FLOAT_EQ(k.pose(0, 3), -185.0f);
    EXPECT_FLOAT_EQ(k.pose(1, 3), -230.0f);
    EXPECT_FLOAT_EQ(k.pose(2, 3), 100.0f);
    float back[3];
    k.GetJoints(back);
    EXPECT_FLOAT_EQ(back[2], 30.0f);
}

TEST(KinCartesian, SetPositionIgnoresTargetRotation) {
    RobotKinematicCartesian k;
    Matrix44 t;
    t.ABCToMatrix(30, 10, 5);
    t.SetTranslation(-100.0f, -200.0f, 50.0f);
    k.SetPosition(t);
    EXPECT_FLOAT_EQ(k.joints[0], 95.0f);
    EXPECT_FLOAT_EQ(k.joints[1], 50.0f);
    EXPECT_FLOAT_EQ(k.joints[2], 80.0f);
    EXPECT_FLOAT_EQ(k.pose(0, 0), 1.0f);
    EXPECT_FLOAT_EQ(k.pose(0, 1), 0.0f);
    EXPECT_FLOAT_EQ(k.pose(0, 3), -100.0f);
}

TEST(KinCartesian, LimitViolationLeavesJointsAndPose) {
    RobotKinematicCartesian k;
    float q[3] = {10, 20, 30};
    k.SetJoints(q, true);
    Matrix44 before = k.pose;
    Matrix44 t;
    t.SetTranslation(-195.0f - 10.0f, -230.0f, 100.0f);  // joint 0 = -10 < -5, moving down
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(t); }), 13);
    EXPECT_EQ(k.joints[0], 10.0f);
    EXPECT_EQ(KinTest::PositionError(k.pose, before), 0.0);
    float high[3] = {10, 20, 301};
    EXPECT_EQ(ThrownCode([&] { k.SetJoints(high, true); }), 14);
    EXPECT_EQ(k.joints[2], 30.0f);
    k.SetJoints(high, false);  // unchecked moves are the caller's business
    EXPECT_EQ(k.joints[2], 301.0f);
    float nanJoints[3] = {std::nanf(""), 0, 0};
    EXPECT_EQ(ThrownCode([&] { k.SetJoints(nanJoints, false); }), 13);  // but never NaN
    EXPECT_EQ(k.joints[0], 10.0f);
}

TEST(KinCartesian, SkewedAxesRandomRoundTrip) {
    TempDir dir;
    const std::string file = dir.Write(
        "c.xml", KinTest::CartesianConfig("xOffset=\"10\" yOffset=\"20\" zOffset=\"30\" dirA1=\"0.8 0.6 0\""
                                          " dirA2=\"-0.6 0.8 0\" dirA3=\"0.1 0.2 -1\""));
    RobotKinematicCartesian k;
    k.Init("gantry", "Cartesian", file);
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> pick(0.0f, 280.0f);
    double worst = 0.0;
    const int samples = 500;
    for (int n = 0; n < samples; ++n) {
        float q[3] = {pick(rng), pick(rng), pick(rng)};
        k.SetJoints(q, false);
        Matrix44 target = k.pose;
        RobotKinematicCartesian solver = k;
        solver.SetPosition(target);
        RobotKinematicCartesian check = k;
        check.SetJoints(solver.joints, false);
        worst = std::max(worst, KinTest::PositionError(check.pose, target));
    }
    std::printf("Cartesian round trip: %d samples, worst position error %.6f mm\n", samples, worst);
    EXPECT_LT(worst, 0.01);
}

TEST(KinCartesian, ConfigurationValuesAndDefaults) {
    TempDir dir;
    // dirA2 missing keeps (0, 1, 0); limits converted unchanged (offset 0, direction 1).
    const std::string file = dir.Write(
        "c.xml", KinTest::CartesianConfig("lx=\"800\" xOffset=\"1\" yOffset=\"2\" zOffset=\"3\" dirA1=\"1 0 0\""
                                          " dirA3=\"0 0 1\""));
    RobotKinematicCartesian k;
    std::string log = KinTest::CapturedLog([&] { k.Init("gantry", "Cartesian", file); });
    EXPECT_EQ(k.dirA2.x, 0.0f);
    EXPECT_EQ(k.dirA2.y, 1.0f);
    EXPECT_EQ(k.dirA3.z, 1.0f);
    EXPECT_EQ(k.originOffset.z, 3.0f);
    EXPECT_EQ(k.jointMax[2], 300.0f);
    EXPECT_NE(log.find("RKCartesian gantry / Cartesian  - Kinematic Data: "), std::string::npos);
    EXPECT_NE(log.find("   Linear Axis 1: Dir 1.0, 0.0, 0.0  Length: 800.0"), std::string::npos);
    EXPECT_NE(log.find("   Linear Axis 2: Dir 0.0, 1.0, 0.0  Length: 500.0"), std::string::npos);
    EXPECT_NE(log.find("   Offset: 1.0, 2.0, 3.0"), std::string::npos);
    EXPECT_NE(log.find("   Joint 2: Min -5.0 Max 300.0 MaxVel 100.0 JointOffset 0.0 JointDirection 1.0"),
              std::string::npos);
}

TEST(KinCartesian, FatalConfigurationErrors) {
    TempDir dir;
    auto init = [&](const std::string& name) {
        return ConfigFailure([&] { RobotKinematicCartesian().Init("r", "t", name); });
    };
    EXPECT_EQ(init(dir.Path() + "/missing.xml"),
              "46: RobotKinematicCartesian: could not find robot ini file: " + dir.Path() + "/missing.xml");
    const std::string broken = dir.Write("broken.xml", "<Robot><Kinematic></Robot>");
    EXPECT_EQ(init(broken), "46: RobotKinematicCartesian: could not read robot ini file correctly: " + broken);
    EXPECT_EQ(init(dir.Write("noroot.xml", "<Robo/>")),
              "46: RobotKinematicCartesian: line Robot not found in robot ini file!");
    EXPECT_EQ(init(dir.Write("nokin.xml", "<Robot><SoftwareMinMax/><JointVelocities/></Robot>")),
              "46: RobotKinematicCartesian: line Kinematic not found in robot ini file!");
    EXPECT_EQ(init(dir.Write("nominmax.xml", "<Robot><Kinematic/><JointVelocities/></Robot>")),
              "46: RobotKinematicCartesian: line SoftwareMinMax not found in robot ini file!");
    EXPECT_EQ(init(dir.Write("novel.xml", "<Robot><Kinematic/><SoftwareMinMax/></Robot>")),
              "46: RobotKinematicCartesian: line JointVelocities not found in robot ini file!");
    // Axes that cannot be inverted or directions that are not three numbers
    // would drive the gantry somewhere else than commanded.
    EXPECT_EQ(init(dir.Write("dep.xml", KinTest::CartesianConfig("dirA1=\"1 0 0\" dirA2=\"2 0 0\""))),
              "46: RobotKinematicCartesian: axis directions dirA1, dirA2, dirA3 are not independent!");
    EXPECT_EQ(init(dir.Write("bad.xml", KinTest::CartesianConfig("dirA2=\"0 1\""))),
              "46: RobotKinematicCartesian: attribute dirA2 is not three numbers in robot ini file: \"0 1\"");
    EXPECT_EQ(init(dir.Write("nan.xml", KinTest::CartesianConfig("xOffset=\"abc\""))),
              "46: RobotKinematicCartesian: attribute xOffset of line Kinematic is not a number in robot ini "
              "file: \"abc\"");
}
