// The path passes on hand-made paths: sampling, velocity/acceleration,
// corner blending, the forward and backward limiting passes and CheckPath.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "LogSingleton.h"
#include "PkgProgram/AccHandler.h"
#include "PkgProgram/JointSet.h"
#include "PkgProgram/PathGenerator.h"

namespace {

JointSet Sample(std::initializer_list<float> positions, float limit = 300.0f, int cmd = 0, int succ = 1) {
    float pos[JointSet::kMaxJoints] = {};
    float lim[JointSet::kMaxJoints];
    int i = 0;
    for (float p : positions) pos[i++] = p;
    for (float& l : lim) l = limit;
    return JointSet(9, pos, 0, 0, cmd, succ, lim);
}

// Joint 0 along a list of positions, the other joints at 0.
std::vector<JointSet> Path1D(const std::vector<float>& positions, float limit = 300.0f) {
    std::vector<JointSet> path;
    for (float p : positions) path.push_back(Sample({p}, limit));
    return path;
}

// Largest |acceleration| of joint j over a path sampled every 10 ms.
float MaxAcceleration(const std::vector<JointSet>& path, int j) {
    float worst = 0.0f;
    for (size_t i = 2; i < path.size(); ++i) {
        const float v1 = (path[i - 1].position[j] - path[i - 2].position[j]) * 100.0f;
        const float v2 = (path[i].position[j] - path[i - 1].position[j]) * 100.0f;
        worst = std::max(worst, std::fabs((v2 - v1) * 100.0f));
    }
    return worst;
}

}  // namespace

TEST(JointSetTest, ConstructorsSetCountsAndCopyTheArrays) {
    JointSet plain(3);
    EXPECT_EQ(plain.jointCount, 9);
    EXPECT_FLOAT_EQ(plain.maxAcc, -1.0f);
    EXPECT_EQ(plain.maxAccJoint, -1);

    float pos[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    float lim[9] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    JointSet full(2, pos, 5, 6, 7, 8, lim);
    EXPECT_EQ(full.jointCount, 9);
    EXPECT_FLOAT_EQ(full.position[8], 9.0f);
    EXPECT_FLOAT_EQ(full.accLimit[4], 50.0f);
    EXPECT_FLOAT_EQ(full.velocity[0], 0.0f);
    EXPECT_EQ(full.commandIndex, 7);
    EXPECT_EQ(full.successorIndex, 8);
    EXPECT_EQ(full.reserved0, 0);
    JointSet copy;
    copy = full;
    EXPECT_FLOAT_EQ(copy.position[3], 4.0f);
    EXPECT_EQ(copy.successorIndex, 8);
}

TEST(AccHandlerTest, LimitsFollowThePercentage) {
    AccHandler handler(300.0f, 2.0f);
    EXPECT_FLOAT_EQ(handler.acc[0], 0.0f);
    EXPECT_FLOAT_EQ(handler.param, 2.0f);
    EXPECT_FLOAT_EQ(handler.RequestAcc()[8], 300.0f);
    handler.SetPercent(50.0f);
    EXPECT_FLOAT_EQ(handler.RequestAcc()[0], 150.0f);
    handler.SetPercent(-20.0f);
    EXPECT_FLOAT_EQ(handler.RequestAcc()[3], 0.0f);
    handler.SetPercent(std::nanf(""));
    EXPECT_FLOAT_EQ(handler.RequestAcc()[3], 0.0f);
    handler.ResetAcc();
    EXPECT_FLOAT_EQ(handler.acc[3], 0.0f);
}

TEST(PathGeneratorPassesTest, InitVelAccRaisesSmallLimitsAndFixesJointSix) {
    PathGenerator pg;
    pg.jointCount = 3;
    float acc[9] = {2.0f, 100.0f, 5.0f, 1000.0f, 1000.0f, 1000.0f, 1000.0f, 1000.0f, 1000.0f};
    pg.InitVelAcc(nullptr, acc);
    EXPECT_FLOAT_EQ(pg.accHandler.accMax[0], 5.0f);
    EXPECT_FLOAT_EQ(pg.accHandler.accMax[1], 100.0f);
    EXPECT_FLOAT_EQ(pg.accHandler.accMax[2], 5.0f);
    EXPECT_FLOAT_EQ(pg.accHandler.accMax[3], 300.0f);  // beyond the joint count: untouched
    EXPECT_FLOAT_EQ(pg.accHandler.accMax[6], 300.0f);
}

TEST(PathGeneratorPassesTest, GetJointsAtInterpolatesAndHoldsTheEnd) {
    PathGenerator pg;
    std::vector<JointSet> path = {Sample({0, 10}, 1, 4, 5), Sample({2, 20}, 2, 6, 7), Sample({4, 30}, 3, 8, 9)};
    JointSet s = pg.GetJointsAt(2500, path);
    EXPECT_FLOAT_EQ(s.position[0], 0.5f);
    EXPECT_FLOAT_EQ(s.position[1], 12.5f);
    EXPECT_FLOAT_EQ(s.accLimit[0], 1.0f);
    EXPECT_EQ(s.commandIndex, 4);
    EXPECT_FLOAT_EQ(pg.GetJointsAt(10000, path).position[0], 2.0f);
    EXPECT_EQ(pg.GetJointsAt(15000, path).successorIndex, 7);
    // At and beyond the last sample, and for negative times: the last sample.
    EXPECT_FLOAT_EQ(pg.GetJointsAt(20000, path).position[1], 30.0f);
    EXPECT_FLOAT_EQ(pg.GetJointsAt(99999999, path).position[0], 4.0f);
    EXPECT_FLOAT_EQ(pg.GetJointsAt(-5, path).position[0], 4.0f);
    EXPECT_EQ(pg.GetJointsAt(-5, path).commandIndex, 8);
    // An empty path yields a neutral sample instead of reading outside it.
    std::vector<JointSet> empty;
    EXPECT_FLOAT_EQ(pg.GetJointsAt(0, empty).position[0], 0.0f);
}

TEST(PathGeneratorPassesTest, ComputeAccelerationFindsTheSignedLargest) {
    PathGenerator pg;
    pg.jointCount = 3;
    JointSet prev = Sample({0, 0, 0});
    prev.velocity[0] = 100.0f;
    JointSet cur = Sample({1, -0.5f, 0.5f});
    EXPECT_EQ(pg.ComputeAcceleration(&cur, &prev), 3);
    EXPECT_FLOAT_EQ(cur.velocity[0], 100.0f);
    EXPECT_FLOAT_EQ(cur.velocity[1], -50.0f);
    EXPECT_FLOAT_EQ(cur.acceleration[0], 0.0f);
    EXPECT_FLOAT_EQ(cur.acceleration[1], -5000.0f);
    EXPECT_FLOAT_EQ(cur.maxAcc, -5000.0f);
    EXPECT_EQ(cur.maxAccJoint, 1);
    // Equal magnitudes: the first joint wins. No motion: 0 at joint 0.
    JointSet still = Sample({0, 0, 0});
    JointSet tie = Sample({0.5f, -0.5f, 0});
    pg.ComputeAcceleration(&tie, &still);
    EXPECT_EQ(tie.maxAccJoint, 0);
    JointSet same = Sample({0, 0, 0});
    pg.ComputeAcceleration(&same, &still);
    EXPECT_FLOAT_EQ(same.maxAcc, 0.0f);
    EXPECT_EQ(same.maxAccJoint, 0);
}

TEST(PathGeneratorPassesTest, SignumAndMaximum) {
    EXPECT_EQ(PathGenerator::signum(3.0f), 1);
    EXPECT_EQ(PathGenerator::signum(0.0f), 0);
    EXPECT_EQ(PathGenerator::signum(-0.1f), -1);
    EXPECT_EQ(PathGenerator::maximum(-3, 2), 2);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    EXPECT_GE(PathGenerator::GetDiffTime(now), 0);
    timespec earlier = now;
    earlier.tv_sec -= 2;
    EXPECT_GE(PathGenerator::GetDiffTime(earlier), 20000);
}

TEST(PathGeneratorPassesTest, TwoSamplePathEndsAsOneSample) {
    PathGenerator pg;
    pg.rawPath = Path1D({0.0f, 1.0f});
    pg.LimitForward();
    ASSERT_EQ(pg.forwardPath.size(), 2u);
    EXPECT_FLOAT_EQ(pg.forwardPath[0].position[0], 0.0f);
    EXPECT_FLOAT_EQ(pg.forwardPath[1].position[0], 1.0f);
    EXPECT_TRUE(pg.LimitBackward());
    ASSERT_EQ(pg.backwardPath.size(), 1u);
    pg.Turn();
    ASSERT_EQ(pg.finalPath.size(), 1u);
    EXPECT_FLOAT_EQ(pg.finalPath[0].position[0], 1.0f);
}

TEST(PathGeneratorPassesTest, ForwardPassTakesAFractionOfAStepWhenOverTheLimit) {
    PathGenerator pg;
    pg.jointCount = 1;
    // 100 units/s from rest within one step: s = 300 * 0.01 / 100 = 0.03.
    std::vector<float> positions;
    for (int i = 0; i <= 20; ++i) positions.push_back(static_cast<float>(i));
    pg.rawPath = Path1D(positions);
    pg.LimitForward();
    ASSERT_GT(pg.forwardPath.size(), 2u);
    EXPECT_NEAR(pg.forwardPath[1].position[0], 0.03f, 1e-5f);
    EXPECT_NEAR(pg.forwardPath[1].velocity[0], 3.0f, 1e-2f);
    EXPECT_NEAR(pg.forwardPath[1].acceleration[0], 300.0f, 1.0f);
    // Later steps keep accelerating at the limit until full speed.
    EXPECT_NEAR(pg.forwardPath[2].velocity[0], 6.0f, 2e-2f);
    // (The raw path's own stop at the end is the backward pass's business.)
    std::vector<JointSet> rampUp(pg.forwardPath.begin(), pg.forwardPath.end() - 1);
    EXPECT_LE(MaxAcceleration(rampUp, 0), 300.0f * 1.01f);
    EXPECT_FLOAT_EQ(pg.forwardPath.back().position[0], 20.0f);
    EXPECT_GT(pg.forwardPath.size(), pg.rawPath.size());
}

TEST(PathGeneratorPassesTest, HalfPercentHalvesTheLimit) {
    PathGenerator pg;
    pg.jointCount = 1;
    std::vector<float> positions;
    for (int i = 0; i <= 20; ++i) positions.push_back(static_cast<float>(i));
    pg.rawPath = Path1D(positions, 150.0f);
    pg.LimitForward();
    EXPECT_NEAR(pg.forwardPath[1].position[0], 0.015f, 1e-5f);
}

TEST(PathGeneratorPassesTest, ZeroLimitStallsTheForwardPass) {
    LogSingleton::instance()->SetConsoleEcho(true);
    PathGenerator pg;
    pg.jointCount = 1;
    pg.rawPath = Path1D({0, 1, 2, 3, 4}, 0.0f);
    testing::internal::CaptureStderr();
    pg.LimitForward();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("LF: LimitForward stalled!"), std::string::npos);
    // q = |previous velocity| / |v| = 0: the path never leaves the start, and
    // the pass ends without its final sample.
    ASSERT_EQ(pg.forwardPath.size(), static_cast<size_t>(PathGenerator::kMaxLimitSteps + 1));
    for (const JointSet& s : pg.forwardPath) ASSERT_FLOAT_EQ(s.position[0], 0.0f);
}

TEST(PathGeneratorPassesTest, SharpStopIsLimitedOnlyByTheBackwardPass) {
    PathGenerator pg;
    pg.jointCount = 2;
    // Gentle ramp to 20 units/s (200 units/s^2), a sudden stop, then standing.
    std::vector<float> positions = {0.0f};
    float v = 0.0f;
    for (int i = 0; i < 10; ++i) {
        v += 2.0f;
        positions.push_back(positions.back() + v * 0.01f);
    }
    for (int i = 0; i < 5; ++i) positions.push_back(positions.back() + v * 0.01f);
    for (int i = 0; i < 5; ++i) positions.push_back(positions.back());
    pg.rawPath = Path1D(positions);
    EXPECT_GT(MaxAcceleration(pg.rawPath, 0), 1000.0f);

    pg.LimitForward();
    ASSERT_EQ(pg.forwardPath.size(), pg.rawPath.size());
    for (size_t i = 0; i < pg.rawPath.size(); ++i)
        EXPECT_NEAR(pg.forwardPath[i].position[0], pg.rawPath[i].position[0], 1e-4f) << i;

    ASSERT_TRUE(pg.LimitBackward());
    pg.Turn();
    EXPECT_GT(pg.finalPath.size(), pg.rawPath.size());
    EXPECT_FLOAT_EQ(pg.finalPath.back().position[0], positions.back());
    EXPECT_NEAR(pg.finalPath.front().position[0], 0.0f, 0.05f);
    // The turned path is in time order and decelerates within the limit.
    for (size_t i = 1; i < pg.finalPath.size(); ++i)
        ASSERT_GE(pg.finalPath[i].position[0] + 1e-5f, pg.finalPath[i - 1].position[0]);
    EXPECT_LE(MaxAcceleration(pg.finalPath, 0), 300.0f * 1.05f);
}

TEST(PathGeneratorPassesTest, BackwardPassIsBoundedAndReportsIt) {
    LogSingleton::instance()->SetConsoleEcho(true);
    PathGenerator pg;
    pg.jointCount = 1;
    // Zero limits: every backward step would stand still; the pass must stop.
    pg.forwardPath = Path1D({0, 1, 2, 3, 4, 5}, 0.0f);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(pg.LimitBackward());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("LB: LimitBackward stalled!"), std::string::npos);
    EXPECT_EQ(pg.backwardPath.size(), static_cast<size_t>(PathGenerator::kMaxLimitSteps + 1));
}

namespace {

// 80 samples up joint 0 to the corner, then `after` samples along joint 1.
std::vector<JointSet> CornerPath(int before, int after) {
    std::vector<JointSet> path;
    for (int i = 0; i <= before; ++i) path.push_back(Sample({static_cast<float>(i), 0.0f}));
    for (int i = 1; i <= after; ++i) path.push_back(Sample({static_cast<float>(before), static_cast<float>(i)}));
    return path;
}

// Quadratic Bezier through p0, p1, p2 at t.
float Quadratic(float p0, float p1, float p2, float t) {
    return (1 - t) * (1 - t) * p0 + 2 * t * (1 - t) * p1 + t * t * p2;
}

}  // namespace

TEST(PathGeneratorPassesTest, CornerBlendUsesFiftySamplesAtFullSmoothing) {
    PathGenerator pg;
    pg.jointCount = 2;
    pg.rawPath = CornerPath(80, 80);
    const std::vector<JointSet> before = pg.rawPath;
    pg.cornerIndex = {80};
    pg.cornerSmooth = {100.0f};
    pg.SmoothCorner();
    const int n = 50, c = 80;
    for (int i = 0; i <= c - n; ++i) ASSERT_EQ(pg.rawPath[i].position[0], before[i].position[0]);
    for (int i = 0; i <= 2 * n; ++i) {
        const float t = static_cast<float>(i) / (2 * n);
        ASSERT_NEAR(pg.rawPath[c - n + i].position[0], Quadratic(30, 80, 80, t), 1e-3f) << i;
        ASSERT_NEAR(pg.rawPath[c - n + i].position[1], Quadratic(0, 0, 50, t), 1e-3f) << i;
    }
    // Evenly spaced through the window: no leap at its start, no stop at its
    // end (the quadratic curve's speed changes linearly: 1 unit per sample at
    // both ends here).
    auto step = [&](int i) {
        return std::hypot(pg.rawPath[i].position[0] - pg.rawPath[i - 1].position[0],
                          pg.rawPath[i].position[1] - pg.rawPath[i - 1].position[1]);
    };
    EXPECT_NEAR(step(c - n), 1.0f, 1e-3f);
    EXPECT_NEAR(step(c - n + 1), 1.0f, 0.02f);
    EXPECT_NEAR(step(c + n), 1.0f, 0.02f);
    EXPECT_NEAR(step(c + n + 1), 1.0f, 1e-3f);
    for (int i = c - n + 1; i <= c + n; ++i) ASSERT_GT(step(i), 0.69f) << i;
    for (size_t i = c + n; i < before.size(); ++i) ASSERT_EQ(pg.rawPath[i].position[1], before[i].position[1]);
}

TEST(PathGeneratorPassesTest, CornerBlendShrinksToTheSamplesAvailable) {
    PathGenerator pg;
    pg.jointCount = 2;
    pg.rawPath = CornerPath(80, 10);
    pg.cornerIndex = {80};
    pg.cornerSmooth = {100.0f};
    pg.SmoothCorner();
    // n = 10: samples 71..89 change, 70 and 90 are the curve's end points.
    EXPECT_FLOAT_EQ(pg.rawPath[70].position[0], 70.0f);
    EXPECT_NEAR(pg.rawPath[71].position[0], Quadratic(70, 80, 80, 0.05f), 1e-3f);
    EXPECT_NEAR(pg.rawPath[89].position[1], Quadratic(0, 0, 10, 0.95f), 1e-3f);
    EXPECT_FLOAT_EQ(pg.rawPath[90].position[1], 10.0f);

    // Too few samples before the corner: n shrinks to c, and the start of the
    // path stays where the robot stands.
    pg.rawPath = CornerPath(4, 80);
    pg.cornerIndex = {4};
    pg.SmoothCorner();
    EXPECT_FLOAT_EQ(pg.rawPath[0].position[0], 0.0f);
    EXPECT_FLOAT_EQ(pg.rawPath[0].position[1], 0.0f);
    EXPECT_NEAR(pg.rawPath[1].position[0], Quadratic(0, 4, 4, 0.125f), 1e-4f);
    EXPECT_FLOAT_EQ(pg.rawPath[8].position[1], 4.0f);
}

TEST(PathGeneratorPassesTest, TinyOrInvalidSmoothingLeavesTheCornerAlone) {
    PathGenerator pg;
    pg.jointCount = 2;
    for (float smooth : {1.0f, 0.0f, -30.0f, std::nanf("")}) {
        pg.rawPath = CornerPath(80, 80);
        const std::vector<JointSet> before = pg.rawPath;
        pg.cornerIndex = {80};
        pg.cornerSmooth = {smooth};
        pg.SmoothCorner();
        for (size_t i = 0; i < before.size(); ++i) {
            ASSERT_EQ(pg.rawPath[i].position[0], before[i].position[0]) << smooth;
            ASSERT_EQ(pg.rawPath[i].position[1], before[i].position[1]) << smooth;
        }
    }
    // No corners (a path of one command): nothing changes.
    pg.rawPath = CornerPath(10, 10);
    pg.cornerIndex.clear();
    pg.cornerSmooth.clear();
    pg.SmoothCorner();
    EXPECT_FLOAT_EQ(pg.rawPath[10].position[0], 10.0f);
}

TEST(PathGeneratorPassesTest, CheckPathThrowsOnAJumpAndPrintsThePath) {
    LogSingleton::instance()->SetConsoleEcho(true);
    PathGenerator pg;
    std::vector<JointSet> good = Path1D({0.0f, 1.0f, 2.5f, 2.5f});
    testing::internal::CaptureStdout();
    EXPECT_NO_THROW(pg.CheckPath(&good));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Path length 4  Max: 1.50  0.00   0.00  0.00   0.00"), std::string::npos) << out;

    std::vector<JointSet> bad = Path1D({0.0f, 0.5f, 3.5f});
    testing::internal::CaptureStdout();
    try {
        pg.CheckPath(&bad);
        ADD_FAILURE() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "PG: Max path diff too high!");
    }
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Jointset "), std::string::npos);
    EXPECT_NE(out.find("ERROR IN PATH"), std::string::npos);
    EXPECT_NE(out.find("PG: 20000 - 3.50 0.00 0.00 0.00 0.00"), std::string::npos) << out;
}
