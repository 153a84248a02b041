// Planning whole paths from motion commands: sampling, the look-ahead, the
// hand-over to the interpreter, failures and the worker thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LogSingleton.h"
#include "PkgKinematics/RobotKinematic.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/CommandRelative.h"
#include "PkgProgram/MemoryPosition.h"
#include "PkgProgram/PathGenerator.h"
#include "support/LogTail.h"

namespace {

// A gantry whose first three joints are the tool position in mm. Poses beyond
// `reach` from the origin throw 22 like an arm out of reach; a test can also
// make it throw other exception types after a number of solutions.
class BoxKinematic : public RobotKinematic {
public:
    enum class Throw { Nothing, Text, String, Standard, Other };

    BoxKinematic() {
        jointCount = 3;
        pose(0, 0) = pose(1, 1) = pose(2, 2) = pose(3, 3) = 1.0f;
    }
    void clone(RobotKinematic*) override {}
    std::unique_ptr<RobotKinematic> Duplicate() const override { return std::make_unique<BoxKinematic>(*this); }
    void SetJoints(float* j, bool) override {
        for (int i = 0; i < 3; ++i) joints[i] = j[i];
        pose.SetTranslation(j[0], j[1], j[2]);
    }
    void SetPosition(DataTypes::Matrix44 target) override {
        if (++solutions > throwAfter) {
            switch (throwKind) {
                case Throw::Text: throw "Matrix44: text";
                case Throw::String: throw std::string("Matrix inversion: determinant is zero");
                case Throw::Standard: throw std::runtime_error("standard failure");
                case Throw::Other: throw 2.5;
                case Throw::Nothing: break;
            }
        }
        const float x = target(0, 3), y = target(1, 3), z = target(2, 3);
        if (std::sqrt(x * x + y * y + z * z) > reach) throw errorOutOfReach;
        joints[0] = x;
        joints[1] = y;
        joints[2] = z;
        pose.SetTranslation(x, y, z);
    }

    float reach = 1000.0f;
    Throw throwKind = Throw::Nothing;
    int throwAfter = 1 << 30;
    int solutions = 0;
};

DataTypes::RobotState StartAt(float x, float y, float z) {
    DataTypes::RobotState s;
    s.jointSetPoint[0] = x;
    s.jointSetPoint[1] = y;
    s.jointSetPoint[2] = z;
    s.posCartRobot(0, 0) = s.posCartRobot(1, 1) = s.posCartRobot(2, 2) = s.posCartRobot(3, 3) = 1.0f;
    s.posCartRobot.SetTranslation(x, y, z);
    return s;
}

Command JointMove(float a1, float a2, float a3, float velPercent, int next, float smooth = 0.0f) {
    CommandJoint c;
    c.targetState.jointSetPoint[0] = a1;
    c.targetState.jointSetPoint[1] = a2;
    c.targetState.jointSetPoint[2] = a3;
    c.velocityPercent = velPercent;
    c.accPercent = 100.0f;
    c.smoothPercent = smooth;
    c.successor[0] = next;
    return c;
}

Command LinearMove(float x, float y, float z, float mmPerS, int next, float smooth = 0.0f) {
    CommandLinear c;
    c.targetState.posCartRobot(0, 0) = c.targetState.posCartRobot(1, 1) = 1.0f;
    c.targetState.posCartRobot(2, 2) = c.targetState.posCartRobot(3, 3) = 1.0f;
    c.targetState.posCartRobot.SetTranslation(x, y, z);
    c.cartVelocity = mmPerS;
    c.accPercent = 100.0f;
    c.smoothPercent = smooth;
    c.successor[0] = next;
    return c;
}

struct Planner {
    Planner() {
        LogSingleton::instance()->SetPathOptimize(true);
        pg.jointCount = 3;
        pg.SetKinematic(std::make_unique<BoxKinematic>());
    }
    BoxKinematic& kin() { return *static_cast<BoxKinematic*>(pg.GetKinematic()); }
    PathGenerator pg;
};

float Distance(const float* a, const float* b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// Plans `cmd` from `start` on the calling thread: no path comes of it, and
// the one log line `line` says why.
testing::AssertionResult PlanFails(PathGenerator& pg, const Command& cmd, DataTypes::RobotState start,
                                   const std::string& line) {
    LogTail log;
    pg.SetFirstCmd(cmd, &start, 0, 1);
    pg.ComputePath();
    if (pg.IsPathReady()) return testing::AssertionFailure() << "a path was planned";
    const int count = log.Count(line);
    if (count != 1) return testing::AssertionFailure() << count << " lines " << line;
    return testing::AssertionSuccess();
}

}  // namespace

TEST(PathGeneratorPlanTest, OneJointMoveHasNoCornersAndEndsOnTheTarget) {
    Planner p;
    p.pg.optimize = false;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    p.pg.SetFirstCmd(JointMove(9.0f, 0, 0, 100.0f, 4), &start, 3, 4);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    EXPECT_TRUE(p.pg.cornerIndex.empty());
    EXPECT_TRUE(p.pg.forwardPath.empty());
    EXPECT_TRUE(p.pg.backwardPath.empty());
    EXPECT_TRUE(p.pg.finalPath.empty());
    // 45 deg/s at 100 percent: 0.45 deg per 10 ms; the start, 20 steps and
    // the finishing call, which is sampled too.
    ASSERT_EQ(p.pg.rawPath.size(), 22u);
    EXPECT_EQ(p.pg.sampledUs, 210000);
    EXPECT_FLOAT_EQ(p.pg.rawPath[0].position[0], 0.0f);
    EXPECT_NEAR(p.pg.rawPath[1].position[0], 0.45f, 1e-5f);
    EXPECT_FLOAT_EQ(p.pg.rawPath.back().position[0], 9.0f);
    for (const JointSet& s : p.pg.rawPath) {
        EXPECT_EQ(s.commandIndex, 3);
        EXPECT_EQ(s.successorIndex, 4);
        EXPECT_FLOAT_EQ(s.accLimit[0], 300.0f);  // accPercent 100
        EXPECT_FLOAT_EQ(s.maxAcc, -1.0f);
    }
}

TEST(PathGeneratorPlanTest, MoveThatEndsAtOnceGivesTwoSamples) {
    Planner p;
    DataTypes::RobotState start = StartAt(5, 6, 7);
    p.pg.SetFirstCmd(JointMove(5, 6, 7, 50.0f, 1), &start, 0, 1);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    ASSERT_EQ(p.pg.rawPath.size(), 2u);
    ASSERT_EQ(p.pg.forwardPath.size(), 2u);
    ASSERT_EQ(p.pg.finalPath.size(), 1u);
    float joints[9] = {};
    int cmd = -1;
    EXPECT_EQ(p.pg.GetJointPosition(0, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[2], 7.0f);
    EXPECT_EQ(p.pg.GetJointPosition(10000, joints, &cmd), 1);
}

TEST(PathGeneratorPlanTest, LookAheadTakesTenCommandsAndRefusesTheEleventh) {
    Planner p;
    LogTail log;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    p.pg.SetFirstCmd(JointMove(1, 0, 0, 100.0f, 1, 50.0f), &start, 0, 1);
    for (int i = 1; i < 11; ++i) p.pg.SetNextCmd(JointMove(1.0f + i, 0, 0, 100.0f, i + 1, 50.0f), i, i + 1);
    EXPECT_EQ(p.pg.commandCount, 10);
    EXPECT_EQ(log.Count("Could not set Position, look-ahead is limited"), 1);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    EXPECT_EQ(p.pg.cornerIndex.size(), 9u);
    EXPECT_EQ(p.pg.cornerSmooth.size(), 9u);
    EXPECT_FLOAT_EQ(p.pg.finalPath.back().position[0], 10.0f);
    EXPECT_EQ(p.pg.finalPath.back().commandIndex, 9);
    EXPECT_EQ(p.pg.finalPath.back().successorIndex, 10);
}

TEST(PathGeneratorPlanTest, SamplingTheReadyPath) {
    Planner p;
    p.pg.optimize = false;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    p.pg.SetFirstCmd(JointMove(0.9f, 0, 0, 100.0f, 8), &start, 2, 8);
    p.pg.SetNextCmd(JointMove(0.9f, 0.9f, 0, 100.0f, 9), 8, 9);
    float joints[9] = {};
    int cmd = -1;
    // Not ready yet: joints untouched, the path's first command reported.
    joints[0] = 42.0f;
    EXPECT_EQ(p.pg.GetJointPosition(0, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], 42.0f);
    EXPECT_EQ(cmd, 2);

    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    const std::vector<JointSet>& path = p.pg.rawPath;
    ASSERT_EQ(path.size(), 7u);  // start, 0.45, 0.9, 0.9, then joint 1: 0.45, 0.9, 0.9
    const long n = static_cast<long>(path.size());

    EXPECT_EQ(p.pg.GetJointPosition(0, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], 0.0f);
    EXPECT_EQ(cmd, 2);
    EXPECT_EQ(p.pg.GetJointPosition(20000, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], path[2].position[0]);
    EXPECT_EQ(cmd, 2);
    EXPECT_EQ(p.pg.GetJointPosition(15000, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], 0.675f);
    EXPECT_EQ(p.pg.GetJointPosition(35000, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[1], 0.225f);
    EXPECT_EQ(cmd, 2);  // the earlier sample's command
    EXPECT_EQ(p.pg.GetJointPosition(45000, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[1], 0.675f);
    EXPECT_EQ(cmd, 8);
    EXPECT_EQ(p.pg.GetJointPosition(10000 * (n - 1), joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[1], 0.9f);
    EXPECT_EQ(cmd, 8);
    EXPECT_EQ(p.pg.GetJointPosition(10000 * n, joints, &cmd), 9);
    EXPECT_FLOAT_EQ(joints[1], 0.9f);
    // A negative time is the start, not the end.
    EXPECT_EQ(p.pg.GetJointPosition(-10, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], 0.0f);

    // Abandoning the path: nothing is sampled any more.
    p.pg.ClearPathReady();
    EXPECT_FALSE(p.pg.IsPathReady());
    joints[0] = 42.0f;
    EXPECT_EQ(p.pg.GetJointPosition(10000 * n, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], 42.0f);
}

TEST(PathGeneratorPlanTest, SamplingReadsTheOptimisedPathWhenOptimising) {
    Planner p;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    p.pg.SetFirstCmd(JointMove(9.0f, 0, 0, 100.0f, 1), &start, 0, 1);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    ASSERT_GT(p.pg.finalPath.size(), p.pg.rawPath.size());
    float joints[9] = {};
    int cmd = 0;
    const long n = static_cast<long>(p.pg.finalPath.size());
    EXPECT_EQ(p.pg.GetJointPosition(10000 * 5, joints, &cmd), -1);
    EXPECT_FLOAT_EQ(joints[0], p.pg.finalPath[5].position[0]);
    EXPECT_EQ(p.pg.GetJointPosition(10000 * (n - 1), joints, &cmd), -1);
    EXPECT_EQ(p.pg.GetJointPosition(10000 * n, joints, &cmd), 1);
    EXPECT_FLOAT_EQ(joints[0], 9.0f);
}

TEST(PathGeneratorPlanTest, UnreachableTargetFailsThePath) {
    Planner p;
    LogTail log;
    DataTypes::RobotState start = StartAt(0, 0, 500);
    p.pg.SetFirstCmd(LinearMove(0, 0, 1500, 100.0f, 1), &start, 0, 1);
    p.pg.ComputePathStartThread();
    p.pg.WaitForWorker();
    EXPECT_FALSE(p.pg.IsPathReady());
    EXPECT_TRUE(p.pg.IsPathFailed());
    EXPECT_EQ(log.Count("PG: Error in ComputePath: 22"), 1);

    // The failure belongs to that request: a new path in reach plans, and an
    // abandoned failure is not reported as the failure of what comes next.
    p.pg.SetFirstCmd(LinearMove(0, 0, 600, 100.0f, 1), &start, 0, 1);
    p.pg.ComputePathStartThread();
    p.pg.WaitForWorker();
    EXPECT_TRUE(p.pg.IsPathReady());
    EXPECT_FALSE(p.pg.IsPathFailed());
    p.pg.SetFirstCmd(LinearMove(0, 0, 1500, 100.0f, 1), &start, 0, 1);
    p.pg.ComputePathStartThread();
    p.pg.WaitForWorker();
    EXPECT_TRUE(p.pg.IsPathFailed());
    p.pg.ClearPathReady();
    EXPECT_FALSE(p.pg.IsPathFailed());
}

// A motion without acceleration could never leave its start when the path is
// limited: planning fails at once with the command named, instead of a path
// that stands still. Without optimisation the acceleration is not used.
TEST(PathGeneratorPlanTest, ZeroAccelerationFailsTheOptimisedPath) {
    Planner p;
    LogTail log;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    Command noAcc = LinearMove(0, 0, 50, 100.0f, 5);
    noAcc.accPercent = 0.0f;
    p.pg.SetFirstCmd(JointMove(10, 0, 0, 100.0f, 4, 20.0f), &start, 3, 4);
    p.pg.SetNextCmd(noAcc, 4, 5);
    p.pg.ComputePathStartThread();
    p.pg.WaitForWorker();
    EXPECT_FALSE(p.pg.IsPathReady());
    EXPECT_TRUE(p.pg.IsPathFailed());
    EXPECT_EQ(log.Count("PG: Error in ComputePath: command 4 has an acceleration of 0%"), 1);

    LogSingleton::instance()->SetPathOptimize(false);
    p.pg.SetFirstCmd(noAcc, &start, 4, 5);
    p.pg.ComputePathStartThread();
    p.pg.WaitForWorker();
    LogSingleton::instance()->SetPathOptimize(true);
    EXPECT_TRUE(p.pg.IsPathReady());
    EXPECT_FALSE(p.pg.IsPathFailed());
}

TEST(PathGeneratorPlanTest, EveryExceptionTypeIsCaughtAndLeavesThePathUnready) {
    const std::vector<std::pair<BoxKinematic::Throw, std::string>> cases = {
        {BoxKinematic::Throw::Text, "PG: Error in ComputePath: Matrix44: text"},
        {BoxKinematic::Throw::String, "PG: Error in ComputePath: Matrix inversion: determinant is zero"},
        {BoxKinematic::Throw::Standard, "PG: Error in ComputePath: standard failure"},
        {BoxKinematic::Throw::Other, "PG: Error in ComputePath: unknown exception"},
    };
    for (const auto& [kind, line] : cases) {
        Planner p;
        p.kin().throwKind = kind;
        p.kin().throwAfter = 3;
        LogTail log;
        DataTypes::RobotState start = StartAt(0, 0, 0);
        p.pg.SetFirstCmd(LinearMove(100, 0, 0, 100.0f, 1), &start, 0, 1);
        p.pg.ComputePathStartThread();
        p.pg.WaitForWorker();
        EXPECT_FALSE(p.pg.IsPathReady()) << line;
        EXPECT_TRUE(p.pg.IsPathFailed()) << line;
        EXPECT_EQ(log.Count(line), 1) << line;
    }
}

TEST(PathGeneratorPlanTest, NoKinematicOrUnknownKindIsAnError) {
    PathGenerator bare;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    EXPECT_TRUE(PlanFails(bare, JointMove(1, 0, 0, 100.0f, 1), start, "PG: Error in ComputePath: no planning kinematic"));

    Planner p;
    Command wait;
    wait.typeName = "CommandWait";
    EXPECT_TRUE(PlanFails(p.pg, wait, start, "PG: Error in ComputePath: not a motion command: CommandWait"));
}

TEST(PathGeneratorPlanTest, LinearMoveToAVariableReadsACopyOfTheMemory) {
    Planner p;
    std::vector<MemoryPosition> memory(1);
    memory[0].name = "p1";
    memory[0].type = "position";
    memory[0].state = StartAt(10, 20, 30);
    Command move = LinearMove(0, 0, 0, 100.0f, 1);
    move.source = "variable";
    move.variableName = "p1";
    move.memory = &memory;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    p.pg.SetFirstCmd(move, &start, 0, 1);
    p.pg.ComputePathStartThread();
    // The interpreter's list may change while the worker plans: the worker
    // must not see it.
    memory.clear();
    memory.shrink_to_fit();
    p.pg.WaitForWorker();
    ASSERT_TRUE(p.pg.IsPathReady());
    EXPECT_NEAR(p.pg.finalPath.back().position[2], 30.0f, 0.1f);

    move.variableName = "missing";
    move.memory = &memory;
    EXPECT_TRUE(PlanFails(p.pg, move, start, "PG: Error in ComputePath: Command: could not find variable"));
}

TEST(PathGeneratorPlanTest, CommandCutAfterTheStepBound) {
    Planner p;
    LogTail log;
    p.pg.optimize = false;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    // 0.45 mm/s: would need far more than 50 s.
    p.pg.SetFirstCmd(JointMove(100.0f, 0, 0, 1.0f, 1, 50.0f), &start, 0, 1);
    p.pg.SetNextCmd(JointMove(100.0f, 1.0f, 0, 100.0f, 2), 1, 2);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    EXPECT_EQ(log.Count("PG: aborting interpolation Joint"), 1);
    ASSERT_EQ(p.pg.cornerIndex.size(), 1u);
    EXPECT_EQ(p.pg.cornerIndex[0], PathGenerator::kMaxCommandSteps);
    // The second command still runs, from where the first was cut.
    EXPECT_FLOAT_EQ(p.pg.rawPath.back().position[1], 1.0f);
}

TEST(PathGeneratorPlanTest, LongestPathReleasesItsMemoryForAShortOne) {
    Planner p;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    p.pg.SetFirstCmd(JointMove(500.0f, 0, 0, 1.0f, 1, 50.0f), &start, 0, 1);
    for (int i = 1; i < PathGenerator::kMaxCommands; ++i)
        p.pg.SetNextCmd(JointMove(500.0f, static_cast<float>(i), 0, 1.0f, i + 1, 50.0f), i, i + 1);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    EXPECT_EQ(p.pg.rawPath.size(), static_cast<size_t>(PathGenerator::kMaxCommands * PathGenerator::kMaxCommandSteps + 1));
    const size_t peak = p.pg.PathMemoryBytes();
    RecordProperty("PeakPathBytes", std::to_string(peak));
    // The final path starts where the robot stands, even though the passes hit their bounds.
    EXPECT_LT(Distance(p.pg.finalPath.front().position, start.jointSetPoint), 0.05f);

    p.pg.SetFirstCmd(JointMove(1.0f, 0, 0, 100.0f, 1), &start, 0, 1);
    p.pg.ComputePath();
    ASSERT_TRUE(p.pg.IsPathReady());
    EXPECT_LT(p.pg.PathMemoryBytes() * 10, peak);
}

TEST(PathGeneratorPlanTest, RandomChainsGiveContinuousLimitedPaths) {
    std::mt19937 rng(20240611u);
    // Short enough moves that ten of them stay within the passes' 50 s.
    std::uniform_real_distribution<float> coord(-25.0f, 25.0f);
    std::uniform_real_distribution<float> percent(0.0f, 100.0f);
    std::uniform_int_distribution<int> count(1, PathGenerator::kMaxCommands);
    for (int round = 0; round < 40; ++round) {
        Planner p;
        DataTypes::RobotState start = StartAt(coord(rng), coord(rng), coord(rng));
        const int commands = count(rng);
        Command last;
        for (int k = 0; k < commands; ++k) {
            Command c = (rng() % 2) ? JointMove(coord(rng), coord(rng), coord(rng), 20.0f + percent(rng), k + 1, percent(rng))
                                    : LinearMove(coord(rng), coord(rng), coord(rng), 20.0f + 2.0f * percent(rng), k + 1,
                                                 percent(rng));
            c.accPercent = 10.0f + percent(rng);
            if (k == 0)
                p.pg.SetFirstCmd(c, &start, 0, 1);
            else
                p.pg.SetNextCmd(c, k, k + 1);
            last = c;
        }
        p.pg.ComputePath();
        ASSERT_TRUE(p.pg.IsPathReady()) << round;
        const std::vector<JointSet>& path = p.pg.finalPath;
        ASSERT_GE(path.size(), 1u);
        EXPECT_LT(Distance(path.front().position, start.jointSetPoint), 0.05f) << round;
        float target[3];
        for (int j = 0; j < 3; ++j)
            target[j] = last.typeName == "CommandJoint" ? last.targetState.jointSetPoint[j] : last.targetState.posCartRobot(j, 3);
        EXPECT_LT(Distance(path.back().position, target), 0.11f) << round;
        EXPECT_NO_THROW(p.pg.CheckPath(&p.pg.finalPath)) << round;
        // Each pass keeps every joint that speeds up (in the pass's own
        // direction of time) within its limit, up to float rounding. Not
        // covered: a joint reversing within one step (it slows down and speeds
        // up at once, and slowing down is the other pass's business), and the
        // last forward sample, which is the raw end appended as it is.
        auto checkPass = [&](const std::vector<JointSet>& pass, size_t end, const char* name) {
            for (size_t i = 1; i < end; ++i) {
                for (int j = 0; j < 3; ++j) {
                    const float v = pass[i].velocity[j], a = pass[i].acceleration[j];
                    const float before = pass[i - 1].velocity[j];
                    const bool reverses = (before > 0 && v < 0) || (before < 0 && v > 0);
                    if (((a > 0 && v > 0) || (a < 0 && v < 0)) && !reverses) {
                        ASSERT_LE(std::fabs(a), pass[i].accLimit[j] * 1.01f + 2.0f)
                            << name << " round " << round << " sample " << i << " joint " << j;
                    }
                }
            }
        };
        checkPass(p.pg.forwardPath, p.pg.forwardPath.size() - 1, "forward");
        checkPass(p.pg.backwardPath, p.pg.backwardPath.size(), "backward");
    }
}

TEST(PathGeneratorPlanTest, PathsStartedBackToBackWhileSampling) {
    // The test thread plays the robot cycle: it never blocks on a worker, it polls.
    Planner p;
    DataTypes::RobotState start = StartAt(0, 0, 0);
    float joints[9] = {};
    int cmd = 0;
    int ready = 0;
    for (int round = 0; round < 60; ++round) {
        const float x = static_cast<float>(round % 7) * 10.0f;
        p.pg.SetFirstCmd(LinearMove(x, 50.0f, 0, 200.0f, 1, 40.0f), &start, round, round + 1);
        p.pg.SetNextCmd(JointMove(x, 0, 20.0f, 80.0f, 2), round + 1, round + 2);
        p.pg.ComputePathStartThread();
        // Most paths are superseded at once; every third one is waited for
        // (by polling, as the cycle does) and sampled.
        const bool waitForIt = round % 3 == 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (waitForIt && !p.pg.IsPathReady() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        for (int cycle = 0; cycle < (waitForIt ? 50 : 1); ++cycle) {
            if (!p.pg.IsPathReady()) continue;
            ++ready;
            const int r = p.pg.GetJointPosition(cycle * 4000L, joints, &cmd);
            ASSERT_TRUE(r == -1 || r == round + 2);
            ASSERT_TRUE(cmd == round || cmd == round + 1);
        }
    }
    EXPECT_GE(ready, 20 * 50);
    p.pg.WaitForWorker();
    EXPECT_TRUE(p.pg.IsPathReady());
    EXPECT_EQ(p.pg.finalPath.back().commandIndex, 60);

    // A long computation still running when the generator goes away is
    // cancelled and joined by the destructor.
    p.pg.SetFirstCmd(JointMove(500.0f, 0, 0, 1.0f, 1, 50.0f), &start, 0, 1);
    for (int k = 1; k < PathGenerator::kMaxCommands; ++k)
        p.pg.SetNextCmd(JointMove(500.0f, 1.0f * k, 0, 1.0f, k + 1, 50.0f), k, k + 1);
    p.pg.ComputePathStartThread();
    EXPECT_FALSE(p.pg.IsPathReady());
}
