#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "PkgKinematics/KinematicMath.h"
#include "PkgKinematics/KinematicTestSupport.h"
#include "PkgKinematics/RobotKinematicTalon4.h"
#include "PkgKinematics/RobotKinematicTalon5.h"
#include "support/TempDir.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;
using KinTest::ConfigFailure;
using KinTest::ThrownCode;

namespace {
template <class Kind>
Kind MakeTalon(const std::string& xml) {
    return KinTest::Initialised<Kind>(xml, "talon", "VKTTalon");
}

struct Stats {
    int samples = 0, solved = 0, front = 0, rear = 0;
    double worstPos = 0.0, worstRot = 0.0, worstAxis = 0.0;
};

// Random joints within the limits; the pose they produce is reachable, so
// SetPosition on a copy with the same configuration must reproduce it.
template <class Kind>
Stats RoundTrip(const Kind& arm, unsigned seed, int samples, bool fullOrientationOnlyInFront) {
    Stats s;
    s.samples = samples;
    KinTest::ForEachSolvedRoundTrip(arm, seed, samples, {13, 14, 21, 22}, [&](const auto& sample, const float*,
                                                                              const Kind& check) {
        const Kind& k = sample.k;
        const Matrix44& target = sample.target;
        // A reachable target keeps its orientation through LimitOrientation.
        EXPECT_LT(KinTest::OrientationError(sample.solver.pose, target), 0.01);
        s.solved++;
        (k.frontFlag ? s.front : s.rear)++;
        s.worstPos = std::max(s.worstPos, KinTest::PositionError(check.pose, target));
        s.worstAxis = std::max(s.worstAxis, KinTest::ToolAxisError(check.pose, target));
        if (k.frontFlag || !fullOrientationOnlyInFront)
            s.worstRot = std::max(s.worstRot, KinTest::OrientationError(check.pose, target));
    });
    return s;
}
}  // namespace

TEST(KinTalon5, DefaultFlangeStraightUp) {
    RobotKinematicTalon5 k;
    float q[5] = {0, 0, -90, 0, 0};  // internal (0, 0, 0, 0, 0)
    k.SetJoints(q, false);
    EXPECT_NEAR(k.pose(0, 3), 0.0f, 1e-3);
    EXPECT_NEAR(k.pose(1, 3), 0.0f, 1e-3);
    EXPECT_NEAR(k.pose(2, 3), 673.45f, 1e-3);
    EXPECT_NEAR(k.pose(2, 2), 1.0f, 1e-6);
    EXPECT_EQ(k.kinematicName, "RobotKinematicTalon5");
}

TEST(KinTalon5, RandomRoundTripFrontAndRear) {
    const RobotKinematicTalon5 arm = MakeTalon<RobotKinematicTalon5>(KinTest::Talon5Config());
    const Stats s = RoundTrip(arm, 99, 4000, false);
    std::printf("Talon5 round trip: %d samples, %d solved (%d front, %d rear), worst %.5f mm, %.5f deg\n", s.samples,
                s.solved, s.front, s.rear, s.worstPos, s.worstRot);
    EXPECT_GT(s.front, 200);
    EXPECT_GT(s.rear, 200);
    EXPECT_LT(s.worstPos, 0.01);
    EXPECT_LT(s.worstRot, 0.01);
}

// The four-axis arm always solves in front of the base: a target the arm held
// in its rear is reached from the front, with the same position and tool
// axis; only its roll about the tool axis (which it cannot choose) turns.
TEST(KinTalon4, RandomRoundTrip) {
    const RobotKinematicTalon4 arm = MakeTalon<RobotKinematicTalon4>(KinTest::Talon4Config());
    const Stats s = RoundTrip(arm, 5, 4000, true);
    std::printf("Talon4 round trip: %d samples, %d solved (%d front, %d rear), worst %.5f mm, tool axis %.5f deg, "
                "front orientation %.5f deg\n",
                s.samples, s.solved, s.front, s.rear, s.worstPos, s.worstAxis, s.worstRot);
    EXPECT_GT(s.solved, 1000);
    EXPECT_LT(s.worstPos, 0.01);
    EXPECT_LT(s.worstAxis, 0.01);
    EXPECT_LT(s.worstRot, 0.01);
}

TEST(KinTalon4, DefinedStartState) {
    RobotKinematicTalon4 fresh;
    EXPECT_TRUE(fresh.frontFlag);
    EXPECT_TRUE(fresh.elbowFlag);
    EXPECT_EQ(fresh.joints[0], 10.0f);
    const RobotKinematicTalon4 k = MakeTalon<RobotKinematicTalon4>(KinTest::Talon4Config());
    EXPECT_EQ(k.joints[1], -20.0f);
    EXPECT_EQ(k.joints[2], 110.0f);
    EXPECT_EQ(k.center, 5.0f);
    EXPECT_EQ(k.ellbow, 30.0f);
    EXPECT_EQ(k.jointMax[3], 150.0f);
    EXPECT_EQ(k.pose(2, 3), 300.0f);
}

TEST(KinTalon, LimitOrientationRemovesSidewaysPart) {
    RobotKinematicTalon5 k;
    // Target on the x axis; tool axis tilted sideways (y) and forward (x).
    Matrix44 t;
    t.ABCToMatrix(0.0f, 120.0f, 0.0f);  // tool axis forward-down in the x-z plane
    Matrix44 in = t;
    k.LimitOrientation(&in);
    EXPECT_LT(KinTest::OrientationError(in, t), 1e-4);  // in the plane: unchanged

    Matrix44 sideways;
    sideways.ABCToMatrix(0.0f, 120.0f, 30.0f);
    sideways.SetTranslation(300.0f, 0.0f, 200.0f);
    k.LimitOrientation(&sideways);
    EXPECT_NEAR(sideways(1, 2), 0.0f, 1e-6);  // no y component left
    const double norm = std::sqrt(double(sideways(0, 2)) * sideways(0, 2) + double(sideways(2, 2)) * sideways(2, 2));
    EXPECT_NEAR(norm, 1.0, 1e-6);
    EXPECT_EQ(sideways(0, 3), 300.0f);
    // The result is a proper rotation again (orthonormal, right-handed).
    const Vector3 x = KinematicMath::Column(sideways, 0), y = KinematicMath::Column(sideways, 1);
    EXPECT_NEAR(Vector3::Dot(x, x), 1.0f, 1e-5);
    EXPECT_NEAR(Vector3::Dot(y, y), 1.0f, 1e-5);
    EXPECT_NEAR(Vector3::Dot(x, y), 0.0f, 1e-5);

    // A target at 45 degrees: the plane is the one through the base axis and the target.
    Matrix44 diagonal;
    diagonal.ABCToMatrix(0.0f, 180.0f, 0.0f);  // straight down: already in every vertical plane
    diagonal.SetTranslation(200.0f, 200.0f, 100.0f);
    Matrix44 d = diagonal;
    k.LimitOrientation(&d);
    EXPECT_LT(KinTest::ToolAxisError(d, diagonal), 1e-4);

    // A tool axis straight out of the plane has no nearest reachable axis.
    Matrix44 out;
    out.SetRotationDeg("x", 90.0);  // tool axis along -y
    out.SetTranslation(300.0f, 0.0f, 200.0f);
    EXPECT_EQ(ThrownCode([&] { k.LimitOrientation(&out); }), 22);
}

TEST(KinTalon5, SetPositionOfSidewaysTargetReachesProjectedPose) {
    RobotKinematicTalon5 k = MakeTalon<RobotKinematicTalon5>(KinTest::Talon5Config());
    Matrix44 t;
    t.ABCToMatrix(10.0f, 150.0f, 20.0f);
    t.SetTranslation(350.0f, 120.0f, 250.0f);
    k.SetPosition(t);
    RobotKinematicTalon5 check = k;
    float q[5];
    k.GetJoints(q);
    check.SetJoints(q, false);
    EXPECT_LT(KinTest::PositionError(check.pose, t), 0.01);
    EXPECT_LT(KinTest::OrientationError(check.pose, k.pose), 0.01);
}

TEST(KinTalon5, RearSolutionFoldsBaseJoint) {
    RobotKinematicTalon5 k = MakeTalon<RobotKinematicTalon5>(KinTest::Talon5Config());
    // Wrist point at 30 degrees, arm reaching over backwards.
    float rear[5] = {-150, -60, -30, 20, 10};
    k.SetJoints(rear, false);
    ASSERT_FALSE(k.frontFlag);
    const Matrix44 target = k.pose;
    RobotKinematicTalon5 solver = k;
    solver.SetPosition(target);
    float out[5];
    solver.GetJoints(out);
    EXPECT_NEAR(out[0], -150.0f, 1e-3);  // 30 + 180, folded: not 210
    for (int i = 1; i < 5; ++i) EXPECT_NEAR(out[i], rear[i], 1e-3) << i;
}

TEST(KinTalon, SingularitiesLogOncePerEpisodeAndLeaveState) {
    RobotKinematicTalon5 k = MakeTalon<RobotKinematicTalon5>(KinTest::Talon5Config());
    float q[5] = {10, 20, -40, 30, 5};
    k.SetJoints(q, false);
    const RobotKinematicTalon5 before = k;
    Matrix44 axis;
    axis.SetTranslation(50.0f, -60.0f, 500.0f);  // wrist point 80 below, within 100 of the axis
    Matrix44 far;
    far.SetTranslation(800.0f, 0.0f, 280.0f);
    std::string log = KinTest::CapturedLog([&] {
        EXPECT_EQ(ThrownCode([&] { k.SetPosition(axis); }), 21);
        EXPECT_EQ(ThrownCode([&] { k.SetPosition(far); }), 22);
        EXPECT_EQ(ThrownCode([&] { k.SetPosition(axis); }), 21);
    });
    EXPECT_EQ(KinTest::CountOccurrences(log, "Kinematic Error: too close to center axis! 50.0 -60 100"), 1) << log;
    EXPECT_EQ(KinTest::CountOccurrences(log, "InvKin: OutofReach"), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(k.joints[i], before.joints[i]);
    EXPECT_EQ(KinTest::PositionError(k.pose, before.pose), 0.0);
    EXPECT_EQ(k.frontFlag, before.frontFlag);
    EXPECT_EQ(k.elbowFlag, before.elbowFlag);

    // Reach limit: lz2 + lz3 - Ellbow = 375 mm from the shoulder (198.45 high).
    Matrix44 edge;
    edge.SetRotationDeg("y", 90.0);
    edge.SetTranslation(374.5f + 80.0f, 0.0f, 198.45f);
    RobotKinematicTalon5 reach = MakeTalon<RobotKinematicTalon5>(KinTest::Talon5Config());
    EXPECT_EQ(ThrownCode([&] { reach.SetPosition(edge); }), -1);
    edge(0, 3) = 375.5f + 80.0f;
    EXPECT_EQ(ThrownCode([&] { reach.SetPosition(edge); }), 22);
}

TEST(KinTalon5, CloneCopiesEveryField) {
    RobotKinematicTalon5 source = MakeTalon<RobotKinematicTalon5>(KinTest::Talon5Config());
    float q[5] = {1, 2, 3, 4, 5};
    source.SetJoints(q, false);
    source.cycleTime = 17.0;
    source.lz2 = 360.0f;
    source.frontFlag = false;
    RobotKinematicTalon5 copy;
    copy.clone(&source);
    float out[5];
    copy.GetJoints(out);
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(out[i], q[i]);
    EXPECT_EQ(copy.cycleTime, 17.0);
    EXPECT_EQ(copy.lz2, 360.0f);
    EXPECT_FALSE(copy.frontFlag);
    EXPECT_EQ(copy.jointMax[0], 170.0f);
    EXPECT_EQ(copy.robotName, "talon");
    EXPECT_EQ(copy.wristPoint.z, source.wristPoint.z);
    // Another kind is not copied.
    RobotKinematicTalon4 other;
    copy.clone(&other);
    EXPECT_EQ(copy.jointCount, 5);
}

TEST(KinTalon, InitLogsAndConvertsLimits) {
    TempDir dir;
    RobotKinematicTalon5 k;
    const std::string file = dir.Write("t5.xml", KinTest::Talon5Config());
    const std::string log = KinTest::CapturedLog([&] { k.Init("arm5", "VKTTalon5", file); });
    EXPECT_NE(log.find("RK5Axis arm5 / VKTTalon5  - Kinematic Data: "), std::string::npos);
    EXPECT_NE(log.find("   Joint 2: Min -170.0 Max 170.0 MaxVel 30.0 JointOffset 90.0 JointDirection 1.0"),
              std::string::npos);
    EXPECT_NE(log.find("   Joint length: lz0 122.2, lz1 76.3, lz2 350.0, lz3 45.0, lz4 0.0, lz5 80.0, ly0 0.0"),
              std::string::npos);
    EXPECT_EQ(k.jointMin[2], -80.0f);
    EXPECT_EQ(k.jointMax[2], 260.0f);

    RobotKinematicTalon4 k4;
    const std::string log4 =
        KinTest::CapturedLog([&] { k4.Init("arm4", "VKTTalon4", dir.Write("t4.xml", KinTest::Talon4Config())); });
    EXPECT_NE(log4.find("RK5Axis arm4 / VKTTalon4  - Kinematic Data: "), std::string::npos);
    EXPECT_NE(log4.find("   Joint length: lz0 158.0, lz1 60.0, lz2 190.0, lz3 220.0, lz4 46.0\n"), std::string::npos);
}

TEST(KinTalon, FatalConfigurationErrors) {
    TempDir dir;
    for (const std::string cls : {"RobotKinematicTalon4", "RobotKinematicTalon5"}) {
        auto init = [&](const std::string& file) {
            return ConfigFailure([&] {
                if (cls == "RobotKinematicTalon4")
                    RobotKinematicTalon4().Init("r", "t", file);
                else
                    RobotKinematicTalon5().Init("r", "t", file);
            });
        };
        EXPECT_EQ(init(dir.Path() + "/none.xml"), "46: " + cls + ": could not find robot ini file: " + dir.Path() + "/none.xml");
        const std::string broken = dir.Write("broken.xml", "<Robot><a></b></Robot>");
        EXPECT_EQ(init(broken), "46: " + cls + ": could not read robot ini file correctly: " + broken);
        EXPECT_EQ(init(dir.Write("x.xml", "<NotRobot/>")), "46: " + cls + ": line Robot not found in robot ini file!");
        const char* sections[] = {"Kinematic", "SoftwareMinMax", "JointVelocities", "ManufacturerJointConfig",
                                  "SINGULARITIES"};
        for (int missing = 0; missing < 5; ++missing) {
            std::string xml = "<Robot>";
            for (int i = 0; i < 5; ++i)
                if (i != missing) xml += std::string("<") + sections[i] + "/>";
            xml += "</Robot>";
            const std::string quoted = missing == 4 ? "\"SINGULARITIES\"" : sections[missing];
            EXPECT_EQ(init(dir.Write("m.xml", xml)), "46: RobotMaster: line " + quoted + " not found in robot ini file!");
        }
        EXPECT_EQ(init(dir.Write("len.xml", "<Robot><Kinematic lz3=\"0\"/><SoftwareMinMax/><JointVelocities/>"
                                            "<ManufacturerJointConfig/><SINGULARITIES/></Robot>")),
                  "46: " + cls + ": link lengths lz2 and lz3 must be positive!");
    }
}
