// Planning time of PathGenerator::ComputePath on a six-axis arm.
// Counters: path_s = seconds of motion planned per path, path_per_plan =
// seconds of motion planned per second of planning (path duration / planning time).
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "LogSingleton.h"
#include "PkgKinematics/KinematicFactory.h"
#include "PkgProgram/CommandJoint.h"
#include "PkgProgram/CommandLinear.h"
#include "PkgProgram/PathGenerator.h"

namespace {

const char* kSixAxisConfig =
    "<?xml version=\"1.0\"?>\n"
    "<Robot>\n"
    "  <BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\"/>\n"
    "  <Kinematic Type=\"StandardSixAxisPlus\" lz0=\"122.15\" lz1=\"76.3\" lx2=\"350\" lx3=\"400\" lz3=\"45\" lx6=\"80\"/>\n"
    "  <SoftwareMinMax A1Min=\"-170\" A1Max=\"170\" A2Min=\"-120\" A2Max=\"120\" A3Min=\"-170\" A3Max=\"170\""
    " A4Min=\"-190\" A4Max=\"190\" A5Min=\"-130\" A5Max=\"130\" A6Min=\"-190\" A6Max=\"190\"/>\n"
    "  <JointVelocities A1=\"40\" A2=\"40\" A3=\"40\" A4=\"60\" A5=\"60\" A6=\"60\"/>\n"
    "  <ManufacturerJointConfig zOffset=\"0\" A3Offset=\"90\"/>\n"
    "  <SINGULARITIES Wrist=\"5\" Center=\"100\" Ellbow=\"20\"/>\n"
    "</Robot>\n";

// A six-axis arm read from a configuration written to a temporary folder.
std::unique_ptr<RobotKinematic> MakeSixAxis() {
    char folder[] = "/tmp/orvane-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return nullptr;
    const std::string file = std::string(folder) + "/six.xml";
    { std::ofstream(file) << kSixAxisConfig; }
    std::unique_ptr<RobotKinematic> arm = KinematicFactory::Create("StandardSixAxisPlus");
    if (arm) arm->Init("bench", "StandardSixAxisPlus", file);
    unlink(file.c_str());
    rmdir(folder);
    return arm;
}

struct Setup {
    PathGenerator pg;
    DataTypes::RobotState start;
    bool ok = false;

    Setup() {
        LogSingleton::instance()->SetConsoleEcho(false);
        std::unique_ptr<RobotKinematic> arm = MakeSixAxis();
        if (!arm) return;
        float joints[9] = {0.0f, 20.0f, 20.0f, 0.0f, 50.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        arm->SetJoints(joints, false);
        for (int i = 0; i < 9; ++i) start.jointSetPoint[i] = joints[i];
        arm->GetPosition(&start);
        pg.jointCount = 6;
        pg.optimize = true;
        pg.SetKinematic(std::move(arm));
        ok = true;
    }

    void Plan(benchmark::State& state) {
        if (!ok) {
            state.SkipWithError("no six-axis kinematic");
            return;
        }
        double pathSeconds = 0.0;
        for (auto _ : state) {
            pg.ComputePath();
            if (!pg.IsPathReady()) {
                state.SkipWithError("path not planned");
                break;
            }
            pathSeconds = pg.finalPath.size() * pg.stepUs / 1e6;
        }
        state.counters["path_s"] = pathSeconds;
        state.counters["path_per_plan"] =
            benchmark::Counter(pathSeconds, benchmark::Counter::kIsIterationInvariantRate);
        state.counters["path_MiB"] = pg.PathMemoryBytes() / (1024.0 * 1024.0);
    }
};

Command Joint(const float* target, float velPercent, float smooth, int next) {
    CommandJoint c;
    for (int i = 0; i < 6; ++i) c.targetState.jointSetPoint[i] = target[i];
    c.velocityPercent = velPercent;
    c.accPercent = 100.0f;
    c.smoothPercent = smooth;
    c.successor[0] = next;
    return c;
}

void BM_OneJointMove(benchmark::State& state) {
    Setup s;
    const float target[6] = {40.0f, 10.0f, 30.0f, 20.0f, 40.0f, 30.0f};
    s.pg.SetFirstCmd(Joint(target, 100.0f, 0.0f, 1), &s.start, 0, 1);
    s.Plan(state);
}
BENCHMARK(BM_OneJointMove)->Unit(benchmark::kMillisecond);

void BM_TenLinearMovesSmoothed(benchmark::State& state) {
    Setup s;
    // A zig-zag of ten straight moves around the start pose, 100 mm/s, smoothing 50.
    const float dx[10] = {60, 60, 0, -60, -60, 0, 60, 30, -30, 0};
    const float dy[10] = {0, 60, 60, 60, 0, -60, -60, 0, 30, 0};
    const float dz[10] = {0, 0, -40, -40, 0, 0, 20, 40, 20, 0};
    for (int k = 0; k < 10; ++k) {
        CommandLinear c;
        c.targetState.posCartRobot = s.start.posCartRobot;
        c.targetState.posCartRobot(0, 3) += dx[k];
        c.targetState.posCartRobot(1, 3) += dy[k];
        c.targetState.posCartRobot(2, 3) += dz[k];
        c.cartVelocity = 100.0f;
        c.rotVelocity = 90.0f;
        c.accPercent = 100.0f;
        c.smoothPercent = 50.0f;
        c.successor[0] = k + 1;
        if (k == 0)
            s.pg.SetFirstCmd(c, &s.start, 0, 1);
        else
            s.pg.SetNextCmd(c, k, k + 1);
    }
    s.Plan(state);
}
BENCHMARK(BM_TenLinearMovesSmoothed)->Unit(benchmark::kMillisecond);

void BM_LongestPath(benchmark::State& state) {
    Setup s;
    // Ten joint moves far too slow to finish: each is cut at its 5001 steps.
    for (int k = 0; k < PathGenerator::kMaxCommands; ++k) {
        float target[6] = {0.0f, 20.0f, 20.0f, 0.0f, 50.0f, 0.0f};
        target[k % 6] += (k % 2) ? -90.0f : 90.0f;
        Command c = Joint(target, 0.5f, 50.0f, k + 1);
        if (k == 0)
            s.pg.SetFirstCmd(c, &s.start, 0, 1);
        else
            s.pg.SetNextCmd(c, k, k + 1);
    }
    s.Plan(state);
    state.counters["raw_samples"] = static_cast<double>(s.pg.rawPath.size());
    // A short path after the longest: its lists must give the peak back.
    const float target[6] = {10.0f, 20.0f, 20.0f, 0.0f, 50.0f, 0.0f};
    s.pg.SetFirstCmd(Joint(target, 100.0f, 0.0f, 1), &s.start, 0, 1);
    s.pg.ComputePath();
    state.counters["after_short_MiB"] = s.pg.PathMemoryBytes() / (1024.0 * 1024.0);
}
BENCHMARK(BM_LongestPath)->Unit(benchmark::kMillisecond);

// One robot cycle's sampling of a ready path: GetJointPosition at a path time
// that advances by one 10 ms cycle per call (wrapping at the path's end).
void BM_GetJointPosition(benchmark::State& state) {
    Setup s;
    const float target[6] = {40.0f, 10.0f, 30.0f, 20.0f, 40.0f, 30.0f};
    s.pg.SetFirstCmd(Joint(target, 100.0f, 0.0f, 1), &s.start, 0, 1);
    s.pg.ComputePath();
    if (!s.pg.IsPathReady()) {
        state.SkipWithError("path not planned");
        return;
    }
    const long end = long(s.pg.finalPath.size()) * s.pg.stepUs;
    long t = 0;
    float joints[9] = {0};
    int k = -1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.pg.GetJointPosition(t, joints, &k));
        benchmark::DoNotOptimize(joints);
        t += 10000;
        if (t > end) t = 0;
    }
}
BENCHMARK(BM_GetJointPosition);

}  // namespace
