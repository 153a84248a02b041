// Reference comparison for the six-axis arm: our closed-form inverse
// kinematics against the numeric solver of Orocos KDL (ChainIkSolverPos_LMA)
// on the same geometry and the same random reachable targets, timed in the
// same iteration so that a busy machine slows both alike. The disagreement
// counters double as an independent check of our forward and inverse
// kinematics: KDL's chain is built from the link lengths alone.
//
// Counters: ours_ns and kdl_ns per solve (thread CPU time, fastest iteration), kdl_per_ours (how many times
// faster ours is), joint_diff_deg (largest difference of a joint between the
// two solutions), pose_diff_mm and pose_diff_deg (largest distance between a
// target and KDL's forward kinematics of our solution), kdl_failed (targets
// on which KDL did not converge; excluded from the joint difference).
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainiksolverpos_lma.hpp>
#include <kdl/frames.hpp>
#include <kdl/jntarray.hpp>

#include "LogSingleton.h"
#include "PkgKinematics/RobotKinematicSixAxis.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

// CPU time of this thread: time the scheduler gives to others (the machine is
// shared) does not count against whichever solver was running.
double ThreadNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// The geometry of the example six-axis arm (mm); joint 3 has a 90° offset.
const float lz0 = 122.15f, lx1 = 0.0f, lz1 = 76.3f, lx2 = 350.0f, lx3 = 400.0f, lz3 = 45.0f, lx4 = 0.0f, lx6 = 80.0f;
const float kOffset[6] = {0.0f, 0.0f, 90.0f, 0.0f, 0.0f, 0.0f};

const char* kConfig =
    "<?xml version=\"1.0\"?>\n"
    "<Robot>\n"
    "  <Kinematic Type=\"StandardSixAxisPlus\" lz0=\"122.15\" lx1=\"0\" lz1=\"76.3\" lx2=\"350\" lx3=\"400\""
    " lz3=\"45\" lx4=\"0\" lx6=\"80\"/>\n"
    "  <SoftwareMinMax A1Min=\"-170\" A1Max=\"170\" A2Min=\"-120\" A2Max=\"120\" A3Min=\"-170\" A3Max=\"170\""
    " A4Min=\"-190\" A4Max=\"190\" A5Min=\"-130\" A5Max=\"130\" A6Min=\"-190\" A6Max=\"190\"/>\n"
    "  <JointVelocities A1=\"40\" A2=\"40\" A3=\"40\" A4=\"60\" A5=\"60\" A6=\"60\"/>\n"
    "  <ManufacturerJointConfig zOffset=\"0\" A3Offset=\"90\"/>\n"
    "  <SINGULARITIES Wrist=\"5\" Center=\"100\" Ellbow=\"5\"/>\n"
    "</Robot>\n";

// The example arm, quiet; false (and the benchmark skipped) without it.
bool MakeArm(benchmark::State& state, RobotKinematicSixAxis* arm) {
    LogSingleton::instance()->SetConsoleEcho(false);
    char folder[] = "/tmp/orvane-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no arm configuration");
        return false;
    }
    const std::string file = std::string(folder) + "/six.xml";
    { std::ofstream(file) << kConfig; }
    arm->Init("bench", "bench", file);
    unlink(file.c_str());
    rmdir(folder);
    return true;
}

// The same arm as a KDL chain, in metres and radians of the internal joints:
// Rz · T(lx1, 0, lz0 + lz1) · Ry · T(0, 0, lx2) · Ry · T(-lz3, 0, lx3 + lx4) · Rz · Ry · Rz · T(0, 0, lx6).
KDL::Chain MakeChain() {
    using KDL::Frame;
    using KDL::Joint;
    using KDL::Segment;
    using KDL::Vector;
    const double m = 0.001;
    KDL::Chain chain;
    chain.addSegment(Segment(Joint(Joint::RotZ), Frame(Vector(lx1 * m, 0.0, (lz0 + lz1) * m))));
    chain.addSegment(Segment(Joint(Joint::RotY), Frame(Vector(0.0, 0.0, lx2 * m))));
    chain.addSegment(Segment(Joint(Joint::RotY), Frame(Vector(-lz3 * m, 0.0, (lx3 + lx4) * m))));
    chain.addSegment(Segment(Joint(Joint::RotZ), Frame::Identity()));
    chain.addSegment(Segment(Joint(Joint::RotY), Frame::Identity()));
    chain.addSegment(Segment(Joint(Joint::RotZ), Frame(Vector(0.0, 0.0, lx6 * m))));
    return chain;
}

KDL::Frame ToKdl(const DataTypes::Matrix44& p) {
    KDL::Rotation r(p(0, 0), p(0, 1), p(0, 2), p(1, 0), p(1, 1), p(1, 2), p(2, 0), p(2, 1), p(2, 2));
    return KDL::Frame(r, KDL::Vector(p(0, 3) * 0.001, p(1, 3) * 0.001, p(2, 3) * 0.001));
}

struct Target {
    float user[6];           // joints the target was made from (user convention, degrees)
    DataTypes::Matrix44 pose;
    KDL::Frame frame;
    KDL::JntArray seed{6};   // KDL's start: the target's joints, each disturbed by up to 10°
};

// Random joint sets of one arm configuration (front, elbow up, one wrist side)
// away from the wrist and centre-axis singularities, turned into poses by our
// forward kinematics.
std::vector<Target> MakeTargets(RobotKinematicSixAxis& arm, int count) {
    std::mt19937 rng(20260);
    auto uniform = [&rng](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    const double lo[6] = {-90, -20, -30, -90, 20, -90};
    const double hi[6] = {90, 60, 60, 90, 110, 90};
    std::vector<Target> targets;
    RobotKinematicSixAxis probe = arm;
    bool haveReference = false;
    bool front = true, elbow = true, wrist = false;
    while (int(targets.size()) < count) {
        Target t;
        for (int i = 0; i < 6; ++i) t.user[i] = float(uniform(lo[i], hi[i]));
        try {
            probe.SetJoints(t.user, false);
            RobotKinematicSixAxis check = probe;
            check.SetPosition(probe.pose);  // reachable by the rules of the arm (reach, centre axis, wrist)
        } catch (int) {
            continue;
        }
        if (!haveReference) {
            front = probe.frontFlag;
            elbow = probe.elbowFlag;
            wrist = probe.wristFlag;
            haveReference = true;
        }
        if (probe.frontFlag != front || probe.elbowFlag != elbow || probe.wristFlag != wrist) continue;
        t.pose = probe.pose;
        t.frame = ToKdl(t.pose);
        for (int i = 0; i < 6; ++i) t.seed(i) = (t.user[i] + kOffset[i] + uniform(-10.0, 10.0)) * kDeg;
        targets.push_back(t);
    }
    // Our solver takes the configuration from the last forward kinematics.
    arm.SetJoints(targets[0].user, false);
    return targets;
}

// Runs ours(k) and then theirs(k) over the `count` targets in each iteration;
// per solver the fastest iteration counts (the least disturbed by the other
// work on the machine). Sets the counters ours_ns, kdl_ns and kdl_per_ours.
template <class Ours, class Theirs>
void TimeBoth(benchmark::State& state, int count, Ours ours, Theirs theirs) {
    double oursNs = 1e300, kdlNs = 1e300;
    for (auto _ : state) {
        const double t0 = ThreadNs();
        for (int k = 0; k < count; ++k) ours(k);
        const double t1 = ThreadNs();
        for (int k = 0; k < count; ++k) theirs(k);
        const double t2 = ThreadNs();
        oursNs = std::min(oursNs, (t1 - t0) / count);
        kdlNs = std::min(kdlNs, (t2 - t1) / count);
    }
    state.counters["ours_ns"] = oursNs;
    state.counters["kdl_ns"] = kdlNs;
    state.counters["kdl_per_ours"] = oursNs > 0.0 ? kdlNs / oursNs : 0.0;
}

void BM_SixAxisInverseVsKdlLma(benchmark::State& state) {
    RobotKinematicSixAxis arm;
    if (!MakeArm(state, &arm)) return;
    const int count = 200;
    std::vector<Target> targets = MakeTargets(arm, count);
    const KDL::Chain chain = MakeChain();  // the solvers keep a reference to it
    Eigen::Matrix<double, 6, 1> weights;
    weights << 1.0, 1.0, 1.0, 1.0, 1.0, 1.0;  // metres and radians
    KDL::ChainIkSolverPos_LMA kdl(chain, weights, 1e-10, 500, 1e-15);
    KDL::ChainFkSolverPos_recursive fk(chain);

    std::vector<float> ours(6 * count);
    std::vector<KDL::JntArray> theirs(count, KDL::JntArray(6));
    std::vector<int> status(count, 0);
    TimeBoth(
        state, count,
        [&](int k) {
            arm.SetPosition(targets[k].pose);
            for (int i = 0; i < 6; ++i) ours[6 * k + i] = arm.joints[i];
        },
        [&](int k) { status[k] = kdl.CartToJnt(targets[k].seed, targets[k].frame, theirs[k]); });

    double jointDiff = 0.0, poseDiffMm = 0.0, poseDiffDeg = 0.0;
    int failed = 0;
    for (int k = 0; k < count; ++k) {
        KDL::JntArray q(6);
        for (int i = 0; i < 6; ++i) q(i) = double(ours[6 * k + i]) * kDeg;
        KDL::Frame f;
        fk.JntToCart(q, f);
        poseDiffMm = std::max(poseDiffMm, (f.p - targets[k].frame.p).Norm() * 1000.0);
        KDL::Rotation d = f.M.Inverse() * targets[k].frame.M;
        KDL::Vector axis;
        poseDiffDeg = std::max(poseDiffDeg, std::fabs(d.GetRotAngle(axis)) / kDeg);
        if (status[k] < 0) {
            ++failed;
            continue;
        }
        for (int i = 0; i < 6; ++i) {
            double diff = std::remainder(double(ours[6 * k + i]) - theirs[k](i) / kDeg, 360.0);
            jointDiff = std::max(jointDiff, std::fabs(diff));
        }
    }
    state.counters["joint_diff_deg"] = jointDiff;
    state.counters["pose_diff_mm"] = poseDiffMm;
    state.counters["pose_diff_deg"] = poseDiffDeg;
    state.counters["kdl_failed"] = failed;
    state.counters["targets"] = count;
}
BENCHMARK(BM_SixAxisInverseVsKdlLma)->Unit(benchmark::kMillisecond);

// Forward kinematics of both on the same joint sets, for scale.
void BM_SixAxisForwardVsKdl(benchmark::State& state) {
    RobotKinematicSixAxis arm;
    if (!MakeArm(state, &arm)) return;
    const int count = 200;
    std::vector<Target> targets = MakeTargets(arm, count);
    const KDL::Chain chain = MakeChain();  // the solver keeps a reference to it
    KDL::ChainFkSolverPos_recursive fk(chain);
    std::vector<KDL::JntArray> q(count, KDL::JntArray(6));
    for (int k = 0; k < count; ++k)
        for (int i = 0; i < 6; ++i) q[k](i) = (targets[k].user[i] + kOffset[i]) * kDeg;
    double poseDiffMm = 0.0;
    KDL::Frame f;
    TimeBoth(
        state, count,
        [&](int k) {
            arm.SetJoints(targets[k].user, false);
            benchmark::DoNotOptimize(arm.pose);
        },
        [&](int k) {
            fk.JntToCart(q[k], f);
            benchmark::DoNotOptimize(f);
        });
    for (int k = 0; k < count; ++k) {
        arm.SetJoints(targets[k].user, false);
        fk.JntToCart(q[k], f);
        poseDiffMm = std::max(poseDiffMm, (f.p - ToKdl(arm.pose).p).Norm() * 1000.0);
    }
    state.counters["pose_diff_mm"] = poseDiffMm;
}
BENCHMARK(BM_SixAxisForwardVsKdl)->Unit(benchmark::kMillisecond);

}  // namespace
