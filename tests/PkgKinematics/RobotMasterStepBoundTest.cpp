// No joint spins in one cycle: the robot cycle refuses a set-point step beyond
// its bound (jog, programs, platform), and a linear move past a joint limit
// fails at planning instead of creeping towards the limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "PkgKinematics/PlatformKinematic.h"
#include "PkgKinematics/RobotKinematicSixAxis.h"
#include "PkgProgram/IPO.h"
#include "PkgKinematics/KinematicTestSupport.h"
#include "support/LogTail.h"
#include "support/RobotFixture.h"
#include "support/TempDir.h"

namespace {

class StepBound : public RobotFixture {
protected:
    void SetUp() override {
        LogTail::UsePrivateLog();
        RobotFixture::SetUp();
    }
    IPO& ipo() { return Interpreter(); }
    void WriteProgram(const std::string& name, const std::string& body) {
        dir.Write(name, "<?xml version=\"1.0\"?>\n<Program>\n" + body + "</Program>\n");
        ipo().SetProgramDirectory(dir.Path());
        ASSERT_EQ(robot->ProgramLoad(name), 0);
    }
    TempDir dir;
};

}  // namespace

// Orientation A of the fake kinematic wraps from +180 to -180: a Cartesian jog
// across it asks joint 4 for a 359.7 step. Bound: 4 x 30 units/s x 10 ms.
TEST_F(StepBound, JogSpinIsRefusedAndHeldUntilAJointMovesAgain) {
    Build();
    float start[6] = {10, 0, 0, 179.9f, 0, 0};
    kin->SetJoints(start, false);
    robot->SetMotionMode(2);
    Cycles(1);
    EXPECT_EQ(State().kinState, 0);

    LogTail log;
    Jog(3, 100.0f);
    Cycles(5);
    DataTypes::RobotState s = State();
    EXPECT_EQ(s.kinState, RobotMaster::kinStateStepRefused);
    EXPECT_FLOAT_EQ(s.jointSetPoint[3], 179.9f);
    EXPECT_FLOAT_EQ(bus->LastSent().jointSetPoint[3], 179.9f);
    EXPECT_EQ(log.Count("RobotMaster: set-point step of joint 4 is 359.7, more than 1.2 in one cycle: held"), 1);
    EXPECT_EQ(DisplayMessage(), "joint 4 step 359.7 refused");
    // Standing still keeps the code; a move that is allowed clears it.
    Jog(3, 0.0f);
    Cycles(2);
    EXPECT_EQ(State().kinState, RobotMaster::kinStateStepRefused);
    Jog(3, -100.0f);
    Cycles(1);
    EXPECT_EQ(State().kinState, 0);
    EXPECT_NEAR(State().jointSetPoint[3], 179.6f, 1e-3f);

    // The platform's wheels pass through the same check (bound 60 per cycle);
    // its fastest jog (15 per cycle on wheel 3) is not refused.
    robot->SetMotionMode(4);
    float platformJog[9] = {100, 100, 100, 0, 0, 0, 0, 0, 0};
    robot->SetJogValues(platformJog);
    Cycles(1);
    s = State();
    EXPECT_EQ(s.kinState, 0);
    EXPECT_FLOAT_EQ(s.platformSetPoint[2], 15.0f);
    EXPECT_EQ(log.Count("RobotMaster: set-point step of joint 4 is 359.7, more than 1.2 in one cycle: held"), 1);
    // A reset clears the code.
    Jog(3, 100.0f);
    robot->SetMotionMode(2);
    Cycles(3);  // 179.6 -> 179.9, then the wrap again
    EXPECT_EQ(State().kinState, RobotMaster::kinStateStepRefused);
    EXPECT_EQ(log.Count("RobotMaster: set-point step of joint 4 is 359.7, more than 1.2 in one cycle: held"), 2);
    robot->Reset();
    EXPECT_EQ(State().kinState, 0);
}

// A program whose set-point step exceeds the bound (joint 1 allowed 5 units/s,
// the joint move speeds up to 45) stops at once with the joint and the step named.
TEST_F(StepBound, ProgramStepBeyondTheBoundStopsTheProgram) {
    Build();
    kin->maxJointVelocities[0] = 5.0f;
    WriteProgram("fast.xml", "<Joint a1=\"12\" a2=\"0\" a3=\"0\" a4=\"0\" a5=\"0\" a6=\"0\" velPercent=\"100\"/>\n");
    LogTail log;
    robot->StartProgram();
    EXPECT_LT(RunProgram(200), 200);
    EXPECT_FALSE(ipo().running);
    robot->RunCycleOnce();
    const DataTypes::RobotState s = State();
    EXPECT_EQ(s.kinState, RobotMaster::kinStateStepRefused);
    EXPECT_LT(s.jointSetPoint[0], 12.0f);
    int named = 0;
    for (const std::string& line : log.Lines())
        named += line.rfind("RobotMaster: set-point step of joint 1 is 0.", 0) == 0 &&
                 line.find(", more than 0.2 in one cycle: held, program stopped") != std::string::npos;
    EXPECT_EQ(named, 1);
}

// Joint 4 of the six-axis arm may go to +-190: a linear move that needs it at
// 200 is refused while planning (joint limit) and the program ends within a few
// cycles, the joint never beyond its limit; it used to take the far turn and
// creep along a stalled path for tens of seconds.
TEST_F(StepBound, LinearMovePastAJointLimitFailsAtOnce) {
    TempDir config;
    auto arm = std::make_unique<RobotKinematicSixAxis>();
    const std::string file = config.Write("six.xml", KinTest::SixAxisConfig());
    KinTest::CapturedLog([&] { arm->Init("arm", "StandardSixAxisPlus", file); });
    RobotKinematicSixAxis probe = *arm;
    float target[6] = {20, 10, 10, 200, 40, 0};
    probe.SetJoints(target, false);
    float a = 0, b = 0, c = 0;
    probe.pose.MatrixToABC(&a, &b, &c);
    float start[6] = {20, 10, 10, 185, 40, 0};
    arm->SetJoints(start, false);
    robot = std::make_unique<RobotMaster>();
    robot->Assemble(std::move(arm), std::make_unique<FakeProtocol>(), 10, true);
    robot->SetMotionMode(2);
    robot->RunCycleOnce();
    ASSERT_NEAR(State().jointSetPoint[3], 185.0f, 1e-3f);

    char line[256];
    std::snprintf(line, sizeof line,
                  "<Linear x=\"%.4f\" y=\"%.4f\" z=\"%.4f\" a=\"%.4f\" b=\"%.4f\" c=\"%.4f\" vel=\"100\" acc=\"50\" "
                  "smooth=\"0\"/>\n",
                  double(probe.pose(0, 3)), double(probe.pose(1, 3)), double(probe.pose(2, 3)), double(a), double(b),
                  double(c));
    WriteProgram("past.xml", line);
    LogTail log;
    robot->StartProgram();
    float highest = 0.0f;
    int cycles = 0;
    while (ipo().running && cycles < 1000) {
        robot->RunCycleOnce();
        ipo().pathGenerator.WaitForWorker();
        highest = std::max(highest, State().jointSetPoint[3]);
        ++cycles;
    }
    EXPECT_LT(cycles, 10);
    EXPECT_TRUE(log.Has("PG: Error in ComputePath: 14"));
    EXPECT_TRUE(log.Has("IPO: no path to command 0 of program 0, stopping"));
    EXPECT_LE(highest, 190.0f);
    EXPECT_NEAR(State().jointSetPoint[3], 185.0f, 1e-3f);
}
