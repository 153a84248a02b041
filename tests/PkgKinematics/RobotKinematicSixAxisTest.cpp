#include "PkgKinematics/RobotKinematicSixAxis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "PkgKinematics/KinematicMath.h"
#include "PkgKinematics/KinematicTestSupport.h"
#include "support/TempDir.h"

using DataTypes::Matrix44;
using KinTest::ConfigFailure;
using KinTest::ThrownCode;

namespace {
RobotKinematicSixAxis MakeArm(const std::string& kinematicAttributes = "", const std::string& manufacturer = "") {
    return KinTest::Initialised<RobotKinematicSixAxis>(KinTest::SixAxisConfig(kinematicAttributes, manufacturer),
                                                       "arm", "StandardSixAxisPlus");
}

// Target whose tool axis points along +x, so the wrist centre is 80 mm behind it.
Matrix44 TargetWithWristAt(float x, float y, float z) {
    Matrix44 t;
    t.SetRotationDeg("y", 90.0);
    t.SetTranslation(x + 80.0f, y, z);
    return t;
}

double AngleDiff(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

struct RoundTrip {
    int samples = 0, solved = 0, front = 0, rear = 0, elbowClear = 0, wristClear = 0, behindShoulder = 0;
    double worstPos = 0.0, worstRot = 0.0, worstJoint = 0.0;
};

// SetJoints(q) then SetPosition(pose) on a copy carrying the same
// configuration, then the forward kinematics of the result.
RoundTrip RunRoundTrip(const RobotKinematicSixAxis& arm, unsigned seed, int samples) {
    RoundTrip r;
    r.samples = samples;
    KinTest::ForEachSolvedRoundTrip(arm, seed, samples, {13, 14, 21, 22, 23}, [&](const auto& sample,
                                                                                    const float* solution,
                                                                                    const RobotKinematicSixAxis& check) {
        const RobotKinematicSixAxis& k = sample.k;
        r.solved++;
        (k.frontFlag ? r.front : r.rear)++;
        if (!k.elbowFlag) r.elbowClear++;
        if (!k.wristFlag) r.wristClear++;
        DataTypes::Vector3 w = k.wristPoint;
        w.RotateZRad(float(-double(k.joints[0]) * 3.14159265358979 / 180.0));
        if (k.frontFlag && w.x - arm.lx1 <= 0.0f) r.behindShoulder++;
        r.worstPos = std::max(r.worstPos, KinTest::PositionError(check.pose, sample.target));
        r.worstRot = std::max(r.worstRot, KinTest::OrientationError(check.pose, sample.target));
        // Same configuration: the very same joints come back.
        for (int i = 0; i < 6; ++i) r.worstJoint = std::max(r.worstJoint, AngleDiff(solution[i], sample.q[i]));
        EXPECT_EQ(check.frontFlag, k.frontFlag);
        EXPECT_EQ(check.elbowFlag, k.elbowFlag);
        EXPECT_EQ(check.wristFlag, k.wristFlag);
    });
    return r;
}
}  // namespace

TEST(KinSixAxis, DefaultFlangePosition) {
    RobotKinematicSixAxis k;
    float q[6] = {0, 0, 0, 0, 0, 0};  // user joint 3 = 0 is internal 90
    k.SetJoints(q, false);
    EXPECT_NEAR(k.pose(0, 3), 480.0f, 1e-3);
    EXPECT_NEAR(k.pose(1, 3), 0.0f, 1e-3);
    EXPECT_NEAR(k.pose(2, 3), 593.45f, 1e-3);
    EXPECT_NEAR(k.pose(0, 2), 1.0f, 1e-6);  // tool z along +x
    EXPECT_NEAR(k.wristPoint.x, 400.0f, 1e-3);
    EXPECT_TRUE(k.frontFlag);
    EXPECT_TRUE(k.elbowFlag);
    EXPECT_TRUE(k.wristFlag);
}

TEST(KinSixAxis, ConfigurationFlagsFromJoints) {
    RobotKinematicSixAxis k = MakeArm();
    float elbowDown[6] = {0, 30, -120, 0, 20, 0};  // internal q3 = -30
    k.SetJoints(elbowDown, false);
    EXPECT_TRUE(k.frontFlag);
    EXPECT_FALSE(k.elbowFlag);
    EXPECT_FALSE(k.wristFlag);
    float rear[6] = {0, -60, 0, 0, -20, 0};  // wrist centre behind the base axis
    k.SetJoints(rear, false);
    EXPECT_FALSE(k.frontFlag);
    EXPECT_FALSE(k.elbowFlag);  // q3 = 90 >= 0, inverted in the rear
    EXPECT_TRUE(k.wristFlag);
}

TEST(KinSixAxis, RandomRoundTripFrontAndRear) {
    const RobotKinematicSixAxis arm = MakeArm();
    const RoundTrip r = RunRoundTrip(arm, 42, 4000);
    std::printf("Six-axis round trip: %d samples, %d solved (%d front, %d rear, %d elbow clear, %d wrist clear), "
                "worst %.5f mm, %.5f deg, joints %.5f deg\n",
                r.samples, r.solved, r.front, r.rear, r.elbowClear, r.wristClear, r.worstPos, r.worstRot,
                r.worstJoint);
    EXPECT_GT(r.solved, r.samples / 3);
    EXPECT_GT(r.rear, 100);
    EXPECT_GT(r.front, 100);
    EXPECT_GT(r.elbowClear, 100);
    EXPECT_GT(r.wristClear, 100);
    EXPECT_LT(r.worstPos, 0.01);
    EXPECT_LT(r.worstRot, 0.01);
    EXPECT_LT(r.worstJoint, 0.01);
}

// With a shoulder offset the wrist centre can lie between the base axis and
// the shoulder (dr <= 0): both elbow configurations must still reach it.
TEST(KinSixAxis, RandomRoundTripWristBehindShoulder) {
    const RobotKinematicSixAxis arm = MakeArm("lx1=\"220\"");
    const RoundTrip r = RunRoundTrip(arm, 7, 6000);
    std::printf("Six-axis lx1=220 round trip: %d samples, %d solved, %d behind the shoulder, worst %.5f mm, "
                "%.5f deg\n",
                r.samples, r.solved, r.behindShoulder, r.worstPos, r.worstRot);
    EXPECT_GT(r.behindShoulder, 20);
    EXPECT_LT(r.worstPos, 0.01);
    EXPECT_LT(r.worstRot, 0.01);
    // A fully folded elbow (acos near 1) is ill-conditioned in the joints,
    // though the pose is exact.
    EXPECT_LT(r.worstJoint, 0.1);
}

TEST(KinSixAxis, CenterAxisSingularity) {
    RobotKinematicSixAxis k = MakeArm();
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(TargetWithWristAt(99.0f, -99.0f, 400.0f)); }), 21);
    // Each from the start joints: from one target to the other joint 6 would
    // have to turn 273 degrees, or its nearest turn lies past its limit (13).
    RobotKinematicSixAxis fresh = MakeArm();
    EXPECT_EQ(ThrownCode([&] { fresh.SetPosition(TargetWithWristAt(150.0f, 0.0f, 400.0f)); }), -1);
    RobotKinematicSixAxis other = MakeArm();
    EXPECT_EQ(ThrownCode([&] { other.SetPosition(TargetWithWristAt(0.0f, 101.0f, 400.0f)); }), -1);
}

TEST(KinSixAxis, OutOfReachAtMarginLogsOncePerEpisode) {
    RobotKinematicSixAxis k = MakeArm();
    const float shoulder = 122.15f + 76.3f;
    std::string log = KinTest::CapturedLog([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ThrownCode([&] { k.SetPosition(TargetWithWristAt(730.5f, 0.0f, shoulder)); }), 22);
    });
    EXPECT_EQ(KinTest::CountOccurrences(log, "InvKin: OutofReach"), 1);
    EXPECT_TRUE(k.errorReported);
    // A success ends the episode; the next failure is logged again.
    EXPECT_EQ(ThrownCode([&] { k.SetPosition(TargetWithWristAt(729.5f, 0.0f, shoulder)); }), -1);
    EXPECT_FALSE(k.errorReported);
    log = KinTest::CapturedLog([&] { ThrownCode([&] { k.SetPosition(TargetWithWristAt(99.0f, 0, 300.0f)); }); });
    EXPECT_NE(log.find("Kinematic Error: too close to center axis! 99.0 0 100"), std::string::npos) << log;
}

TEST(KinSixAxis, WristSingularityThreshold) {
    RobotKinematicSixAxis k = MakeArm();
    for (float q5 : {0.0f, 4.0f, -4.9f, 6.0f, -5.1f}) {
        float q[6] = {20, 10, 10, 30, q5, 40};
        k.SetJoints(q, false);
        RobotKinematicSixAxis solver = k;
        // |sin q5| is what the solver sees of the wrist; tan 5 deg is the limit.
        const bool singular = std::fabs(std::sin(q5 * 3.14159265 / 180.0)) < std::tan(5.0 * 3.14159265 / 180.0);
        EXPECT_EQ(ThrownCode([&] { solver.SetPosition(k.pose); }), singular ? 23 : -1) << q5;
    }
}

TEST(KinSixAxis, FailuresLeaveJointsPoseAndFlagsUnchanged) {
    RobotKinematicSixAxis k = MakeArm();
    float q[6] = {10, -20, 30, 40, -50, 60};
    k.SetJoints(q, false);
    const RobotKinematicSixAxis before = k;
    const Matrix44 far = TargetWithWristAt(1000.0f, 0.0f, 200.0f);
    const Matrix44 axis = TargetWithWristAt(0.0f, 0.0f, 600.0f);
    Matrix44 nanTarget = k.pose;
    nanTarget(0, 3) = std::nanf("");
    // A reachable target whose joint 1 lies beyond the +170 limit.
    Matrix44 limited = TargetWithWristAt(-400.0f, 10.0f, 300.0f);
    for (const Matrix44& t : {far, axis, nanTarget, limited}) {
        const int code = ThrownCode([&] { k.SetPosition(t); });
        EXPECT_TRUE(code == 21 || code == 22 || code == 14) << code;
        for (int i = 0; i < 6; ++i) EXPECT_EQ(k.joints[i], before.joints[i]);
        EXPECT_EQ(KinTest::PositionError(k.pose, before.pose), 0.0);
        EXPECT_EQ(k.frontFlag, before.frontFlag);
        EXPECT_EQ(k.elbowFlag, before.elbowFlag);
        EXPECT_EQ(k.wristFlag, before.wristFlag);
    }
    float outside[6] = {175, -20, 30, 40, -50, 60};
    EXPECT_EQ(ThrownCode([&] { k.SetJoints(outside, true); }), 14);
    EXPECT_EQ(k.joints[0], before.joints[0]);
}

// The rear solution of a target in the rear must reach it, also with the
// forearm offset lz3 and with q1 + 180 folded back into -180..180.
TEST(KinSixAxis, RearSolutionReachesTarget) {
    RobotKinematicSixAxis k = MakeArm();
    float rear[6] = {-150, -70, 10, 20, -40, 10};
    k.SetJoints(rear, false);
    ASSERT_FALSE(k.frontFlag);
    const Matrix44 target = k.pose;
    RobotKinematicSixAxis solver = k;
    solver.SetPosition(target);
    float out[6];
    solver.GetJoints(out);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], rear[i], 1e-3) << i;
}

// zOffset shifts the user frame below the model base: targets are solved
// raised by the offset, the pose is reported in the user frame, and a pose fed
// back does not creep upwards.
TEST(KinSixAxis, BaseHeightOffsetKeepsOneFrame) {
    RobotKinematicSixAxis plain = MakeArm();
    RobotKinematicSixAxis shifted = MakeArm("", "");
    shifted.baseHeightOffset = 10.0f;
    float q[6] = {20, 10, 10, 30, 40, 50};
    plain.SetJoints(q, false);
    shifted.SetJoints(q, false);
    EXPECT_NEAR(shifted.pose(2, 3), plain.pose(2, 3) - 10.0f, 1e-3);

    Matrix44 target = plain.pose;
    shifted.SetPosition(target);
    EXPECT_EQ(shifted.pose(2, 3), target(2, 3));
    RobotKinematicSixAxis model = plain;
    float solved[6];
    shifted.GetJoints(solved);
    model.SetJoints(solved, false);
    EXPECT_NEAR(model.pose(2, 3), target(2, 3) + 10.0f, 1e-3);  // the model reaches 10 mm higher

    for (int i = 0; i < 50; ++i) {
        DataTypes::RobotState s;
        shifted.GetPosition(&s);
        shifted.SetPosition(s.posCartRobot);
    }
    float after[6];
    shifted.GetJoints(after);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(after[i], solved[i], 1e-3);
}

TEST(KinSixAxis, InitReadsConfigurationAndConvertsLimits) {
    TempDir dir;
    const std::string file = dir.Write(
        "six.xml", KinTest::SixAxisConfig("lx1=\"12\"", "A2Dir=\"-1\" A2Offset=\"5\" A3Offset=\"90\" zOffset=\"3\""));
    RobotKinematicSixAxis k;
    const std::string log = KinTest::CapturedLog([&] { k.Init("arm", "SixType", file); });
    EXPECT_EQ(k.lx1, 12.0f);
    EXPECT_EQ(k.baseHeightOffset, 3.0f);
    EXPECT_EQ(k.jointOffsets[2], 90.0f);
    // User -120..120 with offset 5 and direction -1: internal -115..125.
    EXPECT_FLOAT_EQ(k.jointMin[1], -115.0f);
    EXPECT_FLOAT_EQ(k.jointMax[1], 125.0f);
    EXPECT_FLOAT_EQ(k.jointMin[2], -80.0f);
    EXPECT_FLOAT_EQ(k.jointMax[2], 260.0f);
    EXPECT_NEAR(k.forearmAngleOffset, std::atan(45.0 / 400.0), 1e-6);
    EXPECT_NE(log.find("RKSixAxis arm / SixType  - Kinematic Data: "), std::string::npos);
    EXPECT_NE(log.find("   Joint 1: Min -120.0 Max 120.0 MaxVel 40.0 JointOffset 5.0 JointDirection -1.0"),
              std::string::npos);
    EXPECT_NE(log.find("   Joint length: lz0 122.2, lx1 12.0, lz1 76.3, lx2 350.0, lx3 400.0, lz3 45.0, lx4 0.0, "
                       "lx6 80.0,"),
              std::string::npos);
}

TEST(KinSixAxis, CloneOnlyAnnounces) {
    RobotKinematicSixAxis a, b;
    a.joints[0] = 33.0f;
    testing::internal::CaptureStdout();
    b.clone(&a);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "************************************* Talon5 COPY ************************ \n");
    EXPECT_EQ(b.joints[0], 0.0f);
}

TEST(KinSixAxis, FatalConfigurationErrors) {
    TempDir dir;
    auto init = [&](const std::string& file) {
        return ConfigFailure([&] { RobotKinematicSixAxis().Init("r", "t", file); });
    };
    EXPECT_EQ(init(dir.Path() + "/none.xml"),
              "46: RobotKinematicSixAxis: could not find robot ini file: " + dir.Path() + "/none.xml");
    const std::string broken = dir.Write("broken.xml", "<Robot>");
    EXPECT_EQ(init(broken), "46: RobotKinematicSixAxis: could not read robot ini file correctly: " + broken);
    EXPECT_EQ(init(dir.Write("a.xml", "<Other/>")), "46: RobotKinematicSixAxis: line Robot not found in robot ini file!");
    const char* sections[] = {"Kinematic", "SoftwareMinMax", "JointVelocities", "ManufacturerJointConfig",
                              "SINGULARITIES"};
    for (int missing = 0; missing < 5; ++missing) {
        std::string xml = "<Robot>";
        for (int i = 0; i < 5; ++i)
            if (i != missing) xml += std::string("<") + sections[i] + "/>";
        xml += "</Robot>";
        const std::string quoted = missing == 4 ? "\"SINGULARITIES\"" : sections[missing];
        EXPECT_EQ(init(dir.Write("m" + std::to_string(missing) + ".xml", xml)),
                  "46: RobotMaster: line " + quoted + " not found in robot ini file!");
    }
    EXPECT_EQ(init(dir.Write("len.xml", KinTest::SixAxisConfig("", "A4Dir=\"0\""))),
              "46: RobotKinematicSixAxis: A4Dir must be 1 or -1 in line ManufacturerJointConfig!");
    const std::string zeroArm = dir.Write("zero.xml", "<Robot><Kinematic lx2=\"0\"/><SoftwareMinMax/><JointVelocities/>"
                                                      "<ManufacturerJointConfig/><SINGULARITIES/></Robot>");
    EXPECT_EQ(init(zeroArm),
              "46: RobotKinematicSixAxis: link lengths lx2 and lx3 + lx4 must be positive, lx6 not negative!");
}

// A joint standing beyond +-180 stays on its side of the turn when the tool
// moves a little: no full-turn spin of the wrist.
TEST(KinSixAxis, SmallMovesKeepJointTurn) {
    RobotKinematicSixAxis k = MakeArm();
    float q[6] = {20, 10, 10, 185, 40, -185};
    k.SetJoints(q, false);
    Matrix44 t = k.pose;
    t(0, 3) += 1.0f;
    k.SetPosition(t);
    float out[6];
    k.GetJoints(out);
    EXPECT_NEAR(out[3], 185.0f, 1.0f);
    EXPECT_NEAR(out[5], -185.0f, 1.0f);
    // Where the near turn lies beyond the limit (+-190), the move is refused as
    // a joint past its limit (14), not made with the far turn inside it (a
    // 355 degree spin from 189.9 to -165.1 in one step).
    RobotKinematicSixAxis probe = MakeArm();
    float beyond[6] = {20, 10, 10, 194.9f, 40, 0};
    probe.SetJoints(beyond, false);
    float edge[6] = {20, 10, 10, 189.9f, 40, 0};
    k.SetJoints(edge, false);
    int code = 0;
    try {
        k.SetPosition(probe.pose);
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 14);
    k.GetJoints(out);
    EXPECT_NEAR(out[3], 189.9f, 1e-3f);
    // Back into the range is an ordinary small move.
    float inside[6] = {20, 10, 10, 185.0f, 40, 0};
    probe.SetJoints(inside, false);
    k.SetPosition(probe.pose);
    k.GetJoints(out);
    EXPECT_NEAR(out[3], 185.0f, 0.01f);
}

// A straight Cartesian path through the workspace, cycle by cycle, moves every
// joint smoothly: no configuration flip and no jump between neighbouring steps.
TEST(KinSixAxis, CartesianPathIsContinuousInJoints) {
    for (float q1 : {30.0f, -150.0f}) {  // front, then a rear configuration
        RobotKinematicSixAxis k = MakeArm();
        float q[6] = {q1, q1 > 0 ? 20.0f : -70.0f, q1 > 0 ? 20.0f : 10.0f, 30, -50, 10};
        k.SetJoints(q, false);
        const bool front = k.frontFlag;
        EXPECT_EQ(front, q1 > 0);
        Matrix44 t = k.pose;
        float previous[6];
        k.GetJoints(previous);
        double worstStep = 0.0;
        // Sideways past the wrist point (tangent to the base axis) and upwards.
        const float len = std::sqrt(k.wristPoint.x * k.wristPoint.x + k.wristPoint.y * k.wristPoint.y);
        const float tx = -k.wristPoint.y / len, ty = k.wristPoint.x / len;
        for (int step = 0; step < 300; ++step) {
            t(0, 3) += 0.3f * tx;
            t(1, 3) += 0.3f * ty;
            t(2, 3) += 0.1f;
            k.SetPosition(t);
            float now[6];
            k.GetJoints(now);
            for (int i = 0; i < 6; ++i) worstStep = std::max(worstStep, double(std::fabs(now[i] - previous[i])));
            std::copy(now, now + 6, previous);
        }
        EXPECT_EQ(k.frontFlag, front);
        EXPECT_LT(worstStep, 1.0) << q1;
    }
}
