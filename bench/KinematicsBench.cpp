// Forward and inverse kinematics per robot kind, ns per call. The joint sets
// alternate by a small step, as between two robot cycles.
#include <benchmark/benchmark.h>

#include "PkgKinematics/RobotKinematicCartesian.h"
#include "PkgKinematics/RobotKinematicDelta.h"
#include "PkgKinematics/RobotKinematicRover.h"
#include "PkgKinematics/RobotKinematicSixAxis.h"
#include "PkgKinematics/RobotKinematicTalon4.h"
#include "PkgKinematics/RobotKinematicTalon5.h"

namespace {
template <class Kind>
Kind Prepared() {
    Kind k;
    for (int i = 0; i < RobotKinematic::maxModelJoints; ++i) {
        k.jointMin[i] = -360.0f;
        k.jointMax[i] = 360.0f;
    }
    return k;
}

template <class Kind>
void Forward(benchmark::State& state, std::initializer_list<float> start, float step) {
    Kind k = Prepared<Kind>();
    float a[6] = {0}, b[6] = {0};
    int i = 0;
    for (float v : start) {
        a[i] = v;
        b[i] = v + step;
        ++i;
    }
    bool flip = false;
    for (auto _ : state) {
        k.SetJoints(flip ? a : b, true);
        flip = !flip;
        benchmark::DoNotOptimize(k.pose);
    }
}

template <class Kind>
void Inverse(benchmark::State& state, std::initializer_list<float> start, float step) {
    Kind k = Prepared<Kind>();
    float q[6] = {0};
    int i = 0;
    for (float v : start) q[i++] = v;
    k.SetJoints(q, false);
    DataTypes::Matrix44 a = k.pose, b = k.pose;
    b(0, 3) += step;
    bool flip = false;
    for (auto _ : state) {
        k.SetPosition(flip ? a : b);
        flip = !flip;
        benchmark::DoNotOptimize(k.joints);
    }
}

void CartesianForward(benchmark::State& s) { Forward<RobotKinematicCartesian>(s, {10, 20, 30}, 0.5f); }
void CartesianInverse(benchmark::State& s) { Inverse<RobotKinematicCartesian>(s, {10, 20, 30}, 0.5f); }
void SixAxisForward(benchmark::State& s) { Forward<RobotKinematicSixAxis>(s, {10, 20, 30, 40, 50, 60}, 0.2f); }
void SixAxisInverse(benchmark::State& s) { Inverse<RobotKinematicSixAxis>(s, {10, 20, 30, 40, 50, 60}, 0.5f); }
void Talon4Forward(benchmark::State& s) { Forward<RobotKinematicTalon4>(s, {10, 20, 90, 40}, 0.2f); }
void Talon4Inverse(benchmark::State& s) { Inverse<RobotKinematicTalon4>(s, {10, 20, 90, 40}, 0.5f); }
void Talon5Forward(benchmark::State& s) { Forward<RobotKinematicTalon5>(s, {10, 20, 30, 40, 50}, 0.2f); }
void Talon5Inverse(benchmark::State& s) { Inverse<RobotKinematicTalon5>(s, {10, 20, 30, 40, 50}, 0.5f); }
void RoverForward(benchmark::State& s) { Forward<RobotKinematicRover>(s, {1, 2, 3, 4}, 1.0f); }

void DeltaForwardSmallStep(benchmark::State& s) { Forward<RobotKinematicDelta>(s, {30, 30, 30}, 0.2f); }
void DeltaForwardLargeStep(benchmark::State& s) { Forward<RobotKinematicDelta>(s, {30, 30, 30}, 10.0f); }
void DeltaInverse(benchmark::State& s) {
    RobotKinematicDelta k;
    DataTypes::Matrix44 a, b;
    a.SetTranslation(10.0f, 20.0f, 220.0f);
    b.SetTranslation(10.5f, 20.0f, 220.0f);
    bool flip = false;
    for (auto _ : s) {
        k.SetPosition(flip ? a : b);
        flip = !flip;
        benchmark::DoNotOptimize(k.joints);
    }
}
}  // namespace

BENCHMARK(CartesianForward);
BENCHMARK(CartesianInverse);
BENCHMARK(SixAxisForward);
BENCHMARK(SixAxisInverse);
BENCHMARK(Talon4Forward);
BENCHMARK(Talon4Inverse);
BENCHMARK(Talon5Forward);
BENCHMARK(Talon5Inverse);
BENCHMARK(DeltaForwardSmallStep);
BENCHMARK(DeltaForwardLargeStep);
BENCHMARK(DeltaInverse);
BENCHMARK(RoverForward);
