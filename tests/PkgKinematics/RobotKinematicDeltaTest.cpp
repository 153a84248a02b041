#include "PkgKinematics/RobotKinematicDelta.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "PkgKinematics/KinematicMath.h"
#include "PkgKinematics/KinematicTestSupport.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;
using KinTest::ThrownCode;

namespace {
Matrix44 At(float x, float y, float z) {
    Matrix44 t;
    t.SetTranslation(x, y, z);
    return t;
}

RobotKinematicDelta MakeDelta() {
    RobotKinematicDelta k;
    KinTest::CapturedLog([&] { k.Init("delta", "VKT_Delta", "unused.xml"); });
    return k;
}
}  // namespace

TEST(KinDelta, InitSetsFixedGeometryAndLogs) {
    RobotKinematicDelta k;
    const std::string log = KinTest::CapturedLog([&] { k.Init("d", "VKT_Delta", "/nonexistent.xml"); });
    EXPECT_NE(log.find("RKDelta: Init"), std::string::npos);
    EXPECT_EQ(k.pose(2, 3), 300.0f);
    EXPECT_EQ(k.jointMin[1], -90.0f);
    EXPECT_EQ(k.jointMax[2], 120.0f);
    EXPECT_EQ(k.maxJointVelocities[0], 100.0f);
    EXPECT_EQ(k.jointCount, 3);
}

TEST(KinDelta, VerticalAxisGivesEqualJoints) {
    RobotKinematicDelta k = MakeDelta();
    for (float z : {150.0f, 220.0f, 280.0f}) {
        k.SetPosition(At(0.0f, 0.0f, z));
        EXPECT_NEAR(k.joints[0], k.joints[1], 1e-3) << z;
        EXPECT_NEAR(k.joints[0], k.joints[2], 1e-3) << z;
        Vector3 p(0.0f, 0.0f, z);
        EXPECT_LT(k.Fitness(k.joints, p), 1e-3);
    }
}

TEST(KinDelta, UnreachablePointThrows5AndKeepsState) {
    RobotKinematicDelta k = MakeDelta();
    k.SetPosition(At(0.0f, 0.0f, 250.0f));
    const float j0 = k.joints[0];
    // Upper-arm joint of arm 0 at (50, 0, 20); the platform offset is (30, 0, -10):
    // v = p + (-20, 0, -30). |v| + 20 > 320 throws.
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(At(20.0f, 0.0f, 30.0f + 300.5f)); }), 5);
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(At(0.0f, 0.0f, -400.0f)); }), 5);
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(At(std::nanf(""), 0.0f, 200.0f)); }), 5);
    // Platform joint right next to the upper-arm joint: no triangle exists.
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(At(20.0f, 0.0f, 32.0f)); }), 5);
    EXPECT_EQ(k.joints[0], j0);
    EXPECT_EQ(k.pose(2, 3), 250.0f);
}

TEST(KinDelta, LinkageLimitThrows12) {
    RobotKinematicDelta k = MakeDelta();
    k.SetPosition(At(0.0f, 0.0f, 250.0f));
    // Far to the side the lower arms tilt out of their arm planes.
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(At(0.0f, 150.0f, 200.0f)); }), 12);
    EXPECT_EQ(k.pose(1, 3), 0.0f);
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(At(0.0f, 40.0f, 250.0f)); }), -1);
}

TEST(KinDelta, SetPositionSkipsJointLimits) {
    RobotKinematicDelta k = MakeDelta();
    // Below the base plane the arms fold past both limits (-90 and 120) but
    // still reach and keep their linkage angles.
    k.SetPosition(At(-100.0f, 0.0f, -80.0f));
    EXPECT_GT(k.joints[0], 120.0f);
    EXPECT_LT(k.joints[1], -90.0f);
    EXPECT_EQ(k.pose(2, 3), -80.0f);
}

// The search follows its best point, so it also finds positions several
// initial steps away from where it starts.
TEST(KinDelta, ForwardSearchFindsDistantPositions) {
    RobotKinematicDelta k = MakeDelta();
    RobotKinematicDelta solver = MakeDelta();
    solver.SetPosition(At(45.0f, -35.0f, 230.0f));
    float q[3] = {solver.joints[0], solver.joints[1], solver.joints[2]};
    k.SetPosition(At(0.0f, 0.0f, 280.0f));  // 57 mm away
    k.SetJoints(q, false);
    EXPECT_NEAR(k.pose(0, 3), 45.0f, 0.01);
    EXPECT_NEAR(k.pose(1, 3), -35.0f, 0.01);
    EXPECT_NEAR(k.pose(2, 3), 230.0f, 0.01);
}

TEST(KinDelta, SetJointsChecksLimitsAndLinkages) {
    RobotKinematicDelta k = MakeDelta();
    k.cycleTime = 10.0;
    k.SetPosition(At(0.0f, 0.0f, 250.0f));
    const float start = k.joints[0];
    float beyond[3] = {125.0f, k.joints[1], k.joints[2]};
    EXPECT_EQ(ThrownCode([&] { k.SetJoints(beyond, true); }), 14);
    EXPECT_EQ(k.joints[0], start);
    float nanJoints[3] = {std::nanf(""), 0.0f, 0.0f};
    EXPECT_EQ(ThrownCode([&] { k.SetJoints(nanJoints, false); }), 13);
    EXPECT_EQ(k.pose(2, 3), 250.0f);
}

TEST(KinDelta, RandomRoundTripWithinLinkageLimits) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> xy(-80.0f, 80.0f), z(120.0f, 290.0f), jump(-25.0f, 25.0f);
    RobotKinematicDelta k = MakeDelta();
    k.SetPosition(At(0.0f, 0.0f, 220.0f));
    int samples = 0, solved = 0;
    double worstPos = 0.0, worstJoint = 0.0, worstFitness = 0.0;
    for (int n = 0; n < 1500; ++n) {
        samples++;
        const Matrix44 target = At(xy(rng), xy(rng), z(rng));
        RobotKinematicDelta inverse = k;
        if (ThrownCode([&] { inverse.SetPosition(target); }) != -1) continue;
        // Forward search from the previous pose, then the inverse of its result.
        float q[3] = {inverse.joints[0], inverse.joints[1], inverse.joints[2]};
        RobotKinematicDelta forward = k;
        forward.pose.SetTranslation(target(0, 3) + jump(rng), target(1, 3) + jump(rng), target(2, 3) + jump(rng));
        if (ThrownCode([&] { forward.SetJoints(q, false); }) != -1) continue;
        solved++;
        worstPos = std::max(worstPos, KinTest::PositionError(forward.pose, target));
        worstFitness = std::max(worstFitness, double(forward.Fitness(q, KinematicMath::Translation(forward.pose))));
        RobotKinematicDelta back = forward;
        back.SetPosition(forward.pose);
        for (int i = 0; i < 3; ++i) worstJoint = std::max(worstJoint, double(std::fabs(back.joints[i] - q[i])));
        k = forward;
    }
    std::printf("Delta round trip: %d samples, %d solved, worst %.5f mm, joints %.5f deg, fitness %.5f\n", samples,
                solved, worstPos, worstJoint, worstFitness);
    EXPECT_GT(solved, samples / 2);
    EXPECT_LT(worstPos, 0.01);
    EXPECT_LT(worstJoint, 0.01);
}

TEST(KinDelta, SearchFitnessFromPrecomputedElbowsEqualsFitnessBitForBit) {
    // The forward search takes the elbows once per call; the fitness it sees
    // must be exactly Fitness, or the search would end on other points.
    RobotKinematicDelta k = MakeDelta();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> joint(-90.0f, 120.0f), coord(-150.0f, 150.0f), height(100.0f, 350.0f);
    for (int n = 0; n < 2000; ++n) {
        float q[3] = {joint(rng), joint(rng), joint(rng)};
        const Vector3 p(coord(rng), coord(rng), height(rng));
        Vector3 elbows[3];
        k.Elbows(q, elbows);
        const float a = k.FitnessOfElbows(elbows, p);
        const float b = k.Fitness(q, p);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << n << ": " << a << " vs " << b;
    }
}
