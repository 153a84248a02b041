#include "PkgKinematics/RobotKinematic.h"

#include <gtest/gtest.h>

#include "PkgKinematics/KinematicFactory.h"
#include "PkgKinematics/KinematicMath.h"
#include "PkgKinematics/RobotKinematicCartesian.h"
#include "PkgKinematics/RobotKinematicDelta.h"
#include "PkgKinematics/RobotKinematicRover.h"
#include "PkgKinematics/RobotKinematicSixAxis.h"
#include "PkgKinematics/RobotKinematicTalon4.h"
#include "PkgKinematics/RobotKinematicTalon5.h"
#include "PkgKinematics/KinematicTestSupport.h"
#include "support/TempDir.h"

using KinTest::ThrownCode;

namespace {
// A gantry with limits 0..100 on every joint, cycle time 10 ms.
RobotKinematicCartesian LimitedGantry(float start) {
    RobotKinematicCartesian k;
    for (int i = 0; i < 3; ++i) {
        k.jointMin[i] = 0.0f;
        k.jointMax[i] = 100.0f;
        k.joints[i] = start;
    }
    k.cycleTime = 10.0;
    return k;
}
}  // namespace

TEST(KinCheckJoints, VelocityFromStepAndCycleTime) {
    RobotKinematicCartesian k = LimitedGantry(10.0f);
    float next[3] = {10.5f, 9.0f, 10.0f};
    k.CheckJoints(next);
    EXPECT_FLOAT_EQ(k.jointVelocities[0], 50.0f);
    EXPECT_FLOAT_EQ(k.jointVelocities[1], -100.0f);
    EXPECT_FLOAT_EQ(k.jointVelocities[2], 0.0f);
    // CheckJoints stores no joints.
    EXPECT_FLOAT_EQ(k.joints[0], 10.0f);
}

TEST(KinCheckJoints, OutsideRangeMovingBackIsAcceptedMovingOutThrows) {
    RobotKinematicCartesian below = LimitedGantry(-5.0f);
    float back[3] = {-4.0f, -5.0f, 50.0f};  // joint 0 back toward range, joint 1 stands
    EXPECT_EQ(ThrownCode([&] { below.CheckJoints(back); }), -1);
    float further[3] = {-5.0f, -5.5f, 50.0f};
    EXPECT_EQ(ThrownCode([&] { below.CheckJoints(further); }), 13);

    RobotKinematicCartesian above = LimitedGantry(105.0f);
    float down[3] = {104.0f, 105.0f, 50.0f};
    EXPECT_EQ(ThrownCode([&] { above.CheckJoints(down); }), -1);
    float up[3] = {105.0f, 105.1f, 50.0f};
    EXPECT_EQ(ThrownCode([&] { above.CheckJoints(up); }), 14);
}

TEST(KinCheckJoints, FirstOffendingJointDecidesAndAllVelocitiesAreUpdated) {
    RobotKinematicCartesian k = LimitedGantry(50.0f);
    k.joints[0] = 100.0f;
    k.joints[2] = 0.0f;
    float q[3] = {101.0f, 50.0f, -1.0f};
    EXPECT_EQ(ThrownCode([&] { k.CheckJoints(q); }), 14);
    EXPECT_FLOAT_EQ(k.jointVelocities[2], -100.0f);
}

TEST(KinCheckJoints, NonFiniteJointIsRefused) {
    RobotKinematicCartesian k = LimitedGantry(50.0f);
    float q[3] = {50.0f, std::nanf(""), 50.0f};
    EXPECT_EQ(ThrownCode([&] { k.CheckJoints(q); }), 13);
    float inf[3] = {50.0f, 50.0f, INFINITY};
    EXPECT_EQ(ThrownCode([&] { k.CheckJoints(inf); }), 13);
}

TEST(KinConventions, UserAndInternalConversionRoundTrip) {
    RobotKinematicSixAxis k;
    k.jointOffsets[1] = 15.0f;
    k.jointDirections[1] = -1.0f;
    float user[6] = {1, 2, 3, 4, 5, 6};
    k.ResetLastJoints(user);
    EXPECT_FLOAT_EQ(k.joints[1], 13.0f);   // 15 - 2
    EXPECT_FLOAT_EQ(k.joints[2], 93.0f);   // default offset 90
    float back[6];
    k.GetJoints(back);
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(back[i], user[i]);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(k.jointVelocities[i], 0.0f);

    float z = 100.0f;
    k.baseHeightOffset = 7.0f;
    float adapt[6] = {1, 2, 3, 4, 5, 6};
    k.KinAdaptorToInternalFormat(adapt, &z);
    EXPECT_FLOAT_EQ(z, 107.0f);
    EXPECT_FLOAT_EQ(adapt[1], 13.0f);
}

TEST(KinConventions, GetPositionCopiesPoseAndOrientation) {
    RobotKinematicRover k;
    float target[4] = {100.0f, 20.0f, 0.0f, 45.0f};
    k.SetPosition(target);
    DataTypes::RobotState state;
    k.GetPosition(&state);
    EXPECT_FLOAT_EQ(state.posCartRobot(0, 3), 100.0f);
    EXPECT_FLOAT_EQ(state.posCartRobot(2, 3), 160.0f);
    EXPECT_FLOAT_EQ(state.posCartRobot(0, 0), 1.0f);
    EXPECT_FLOAT_EQ(state.posA, 45.0f);
    // The arm kinematics never write the orientation values: they start at 0.
    RobotKinematicSixAxis arm;
    arm.GetPosition(&state);
    EXPECT_EQ(state.posA, 0.0f);
    EXPECT_EQ(state.posB, 0.0f);
    EXPECT_EQ(state.posC, 0.0f);
}

TEST(KinFactory, CreatesEveryKindByTypeName) {
    struct Kind {
        const char* type;
        int joints;
        bool (*isKind)(RobotKinematic*);
    };
    const Kind kinds[] = {
        {"StandardSixAxisPlus", 6, [](RobotKinematic* k) { return dynamic_cast<RobotKinematicSixAxis*>(k) != nullptr; }},
        {"Cartesian", 3, [](RobotKinematic* k) { return dynamic_cast<RobotKinematicCartesian*>(k) != nullptr; }},
        {"VKTTalon4", 4, [](RobotKinematic* k) { return dynamic_cast<RobotKinematicTalon4*>(k) != nullptr; }},
        {"VKTTalon5", 5, [](RobotKinematic* k) { return dynamic_cast<RobotKinematicTalon5*>(k) != nullptr; }},
        {"VKTRover", 4, [](RobotKinematic* k) { return dynamic_cast<RobotKinematicRover*>(k) != nullptr; }},
        {"VKT_Delta", 3, [](RobotKinematic* k) { return dynamic_cast<RobotKinematicDelta*>(k) != nullptr; }},
    };
    for (const Kind& kind : kinds) {
        std::unique_ptr<RobotKinematic> k = KinematicFactory::Create(kind.type);
        ASSERT_NE(k, nullptr) << kind.type;
        EXPECT_TRUE(kind.isKind(k.get())) << kind.type;
        EXPECT_EQ(k->jointCount, kind.joints) << kind.type;
        EXPECT_EQ(k->kinematicName, std::string(kind.type) == "VKTTalon5" ? "RobotKinematicTalon5" : "");
    }
    EXPECT_EQ(KinematicFactory::Create("Delta"), nullptr);  // the robot object's default is no known type
    EXPECT_EQ(KinematicFactory::Create("cartesian"), nullptr);
    EXPECT_EQ(KinematicFactory::Create(""), nullptr);
}

// The planner needs its own instance of every kind: an independent copy with
// the same geometry, limits, cycle time and configuration.
TEST(KinFactory, CreateCopyIsIndependentAndComputesTheSame) {
    TempDir dir;
    const std::string file = dir.Write("six.xml", KinTest::SixAxisConfig("lx1=\"25\""));
    RobotKinematicSixAxis robot;
    robot.Init("r", "t", file);
    robot.cycleTime = 12.0;
    float q[6] = {10, 20, 30, 40, 50, 60};
    robot.SetJoints(q, true);

    std::unique_ptr<RobotKinematic> copy = KinematicFactory::CreateCopy(robot);
    auto* six = dynamic_cast<RobotKinematicSixAxis*>(copy.get());
    ASSERT_NE(six, nullptr);
    EXPECT_EQ(six->lx1, 25.0f);
    EXPECT_EQ(copy->cycleTime, 12.0);
    EXPECT_EQ(copy->jointMax[0], 170.0f);
    EXPECT_EQ(KinTest::PositionError(copy->pose, robot.pose), 0.0);

    // Moving the copy leaves the robot's kinematic alone.
    float other[6] = {-10, 25, 35, 40, 50, 60};
    copy->SetJoints(other, false);
    float robotJoints[6];
    robot.GetJoints(robotJoints);
    EXPECT_FLOAT_EQ(robotJoints[0], 10.0f);

    for (const char* type : {"Cartesian", "VKTTalon4", "VKTTalon5", "VKTRover", "VKT_Delta"}) {
        std::unique_ptr<RobotKinematic> k = KinematicFactory::Create(type);
        k->joints[0] = 3.5f;
        std::unique_ptr<RobotKinematic> c = KinematicFactory::CreateCopy(*k);
        EXPECT_EQ(typeid(*c), typeid(*k)) << type;
        EXPECT_EQ(c->joints[0], 3.5f) << type;
        EXPECT_NE(c.get(), k.get());
    }
}

TEST(KinematicMathTest, AxisRotationsEqualTheMatrixRotationsBitForBit) {
    // The kinematics' own rotation helpers must give exactly what
    // Matrix44::SetRotationDeg gives, so forward and inverse results do not move.
    for (double deg = -725.0; deg <= 725.0; deg += 0.37) {
        DataTypes::Matrix44 z, y;
        z.SetRotationDeg("z", deg);
        y.SetRotationDeg("y", deg);
        const DataTypes::Matrix44 kz = KinematicMath::Rz(deg);
        const DataTypes::Matrix44 ky = KinematicMath::Ry(deg);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                ASSERT_EQ(kz(r, c), z(r, c)) << deg << " z " << r << c;
                ASSERT_EQ(ky(r, c), y(r, c)) << deg << " y " << r << c;
            }
        }
    }
}
