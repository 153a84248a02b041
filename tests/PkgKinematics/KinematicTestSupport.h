#pragma once

// Helpers shared by the kinematic tests: sample robot configuration files,
// pose comparison and captured log output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>

#include "ConfigError.h"
#include "PkgDataTypes/Matrix44.h"
#include "support/TempDir.h"

namespace KinTest {

// Robot configuration of a six-axis arm as the controller reads it.
inline std::string SixAxisConfig(const std::string& kinematicAttributes = "",
                                 const std::string& manufacturerAttributes = "zOffset=\"0\" A3Offset=\"90\"") {
    return "<?xml version=\"1.0\"?>\n"
           "<Robot>\n"
           "  <BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\"/>\n"
           "  <Kinematic Type=\"StandardSixAxisPlus\" lz0=\"122.15\" lz1=\"76.3\" lx2=\"350\" lx3=\"400\""
           " lz3=\"45\" lx6=\"80\" " +
           kinematicAttributes +
           "/>\n"
           "  <SoftwareMinMax A1Min=\"-170\" A1Max=\"170\" A2Min=\"-120\" A2Max=\"120\" A3Min=\"-170\" A3Max=\"170\""
           " A4Min=\"-190\" A4Max=\"190\" A5Min=\"-130\" A5Max=\"130\" A6Min=\"-190\" A6Max=\"190\"/>\n"
           "  <JointVelocities A1=\"40\" A2=\"40\" A3=\"40\" A4=\"60\" A5=\"60\" A6=\"60\"/>\n"
           "  <ManufacturerJointConfig " +
           manufacturerAttributes +
           "/>\n"
           "  <SINGULARITIES Wrist=\"5\" Center=\"100\" Ellbow=\"20\"/>\n"
           "  <Orvane DebugMode=\"true\" DisplayPort=\"\"/>\n"
           "</Robot>\n";
}

inline std::string Talon5Config() {
    return "<?xml version=\"1.0\"?>\n"
           "<Robot>\n"
           "  <BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\"/>\n"
           "  <Kinematic Type=\"VKTTalon5\" lz0=\"122.15\" lz1=\"76.3\" lz2=\"350\" lz3=\"45\" lz4=\"0\" lz5=\"80\""
           " ly0=\"0\"/>\n"
           "  <SoftwareMinMax A1Min=\"-170\" A1Max=\"170\" A2Min=\"-120\" A2Max=\"120\" A3Min=\"-170\""
           " A3Max=\"170\" A4Min=\"-170\" A4Max=\"170\" A5Min=\"-190\" A5Max=\"190\"/>\n"
           "  <JointVelocities A1=\"30\" A2=\"30\" A3=\"30\" A4=\"45\" A5=\"45\"/>\n"
           "  <ManufacturerJointConfig zOffset=\"0\" A3Offset=\"90\"/>\n"
           "  <SINGULARITIES Center=\"100\" Ellbow=\"20\"/>\n"
           "</Robot>\n";
}

inline std::string Talon4Config() {
    return "<?xml version=\"1.0\"?>\n"
           "<Robot>\n"
           "  <BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\"/>\n"
           "  <Kinematic Type=\"VKTTalon4\" lz0=\"158\" lz1=\"60\" lz2=\"190\" lz3=\"220\" lz4=\"46\"/>\n"
           "  <SoftwareMinMax A1Min=\"-150\" A1Max=\"150\" A2Min=\"-40\" A2Max=\"60\" A3Min=\"-120\""
           " A3Max=\"140\" A4Min=\"-150\" A4Max=\"150\"/>\n"
           "  <JointVelocities A1=\"100\" A2=\"100\" A3=\"100\" A4=\"100\"/>\n"
           "  <ManufacturerJointConfig zOffset=\"0\"/>\n"
           "  <SINGULARITIES Center=\"5\" Ellbow=\"30\"/>\n"
           "</Robot>\n";
}

inline std::string CartesianConfig(const std::string& kinematicAttributes =
                                       "lx=\"500\" ly=\"500\" lz=\"100\" xOffset=\"-195\" yOffset=\"-250\""
                                       " zOffset=\"130\" dirA1=\"1 0 0\" dirA2=\"0 1 0\" dirA3=\"0 0 -1\"") {
    return "<?xml version=\"1.0\"?>\n"
           "<Robot>\n"
           "  <BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\"/>\n"
           "  <Kinematic Type=\"Cartesian\" " +
           kinematicAttributes +
           "/>\n"
           "  <SoftwareMinMax A1Min=\"-5\" A1Max=\"500\" A2Min=\"-5\" A2Max=\"500\" A3Min=\"-5\" A3Max=\"300\"/>\n"
           "  <JointVelocities A1=\"100\" A2=\"100\" A3=\"100\"/>\n"
           "</Robot>\n";
}

// Largest translation difference in mm.
inline double PositionError(const DataTypes::Matrix44& a, const DataTypes::Matrix44& b) {
    const double dx = double(a(0, 3)) - b(0, 3), dy = double(a(1, 3)) - b(1, 3), dz = double(a(2, 3)) - b(2, 3);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Angle in degrees of the rotation between the two orientations, from the
// Frobenius distance (|A - B| = 2 sqrt 2 sin(angle / 2)), which stays exact
// for small angles where acos of the trace would not.
inline double OrientationError(const DataTypes::Matrix44& a, const DataTypes::Matrix44& b) {
    double sum = 0.0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) sum += (double(a(r, c)) - b(r, c)) * (double(a(r, c)) - b(r, c));
    double x = std::sqrt(sum) / (2.0 * std::sqrt(2.0));
    x = x > 1.0 ? 1.0 : x;
    return 2.0 * std::asin(x) * 180.0 / 3.14159265358979323846;
}

// Angle in degrees between the tool axes (third columns).
inline double ToolAxisError(const DataTypes::Matrix44& a, const DataTypes::Matrix44& b) {
    double sum = 0.0;
    for (int r = 0; r < 3; ++r) sum += (double(a(r, 2)) - b(r, 2)) * (double(a(r, 2)) - b(r, 2));
    double x = std::sqrt(sum) / 2.0;
    x = x > 1.0 ? 1.0 : x;
    return 2.0 * std::asin(x) * 180.0 / 3.14159265358979323846;
}

// Runs f and returns the thrown int code, or -1 when nothing was thrown.
inline int ThrownCode(const std::function<void()>& f) {
    try {
        f();
    } catch (int code) {
        return code;
    }
    return -1;
}

// Runs f and returns the ConfigError as "<exit code>: <message>", or "none".
inline std::string ConfigFailure(const std::function<void()>& f) {
    try {
        f();
    } catch (const ConfigError& e) {
        return std::to_string(e.ExitCode()) + ": " + e.what();
    }
    return "none";
}

// Output the log echoed to the console while f ran.
inline std::string CapturedLog(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    try {
        f();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

// A kinematic of the given kind initialised from the configuration text, its log kept off the console.
template <class Kind>
Kind Initialised(const std::string& xml, const std::string& robotName, const std::string& robotType) {
    TempDir dir;
    const std::string file = dir.Write("robot.xml", xml);
    Kind k;
    CapturedLog([&] { k.Init(robotName, robotType, file); });
    return k;
}

// One sample of a round trip: random user joints q within 95 % of the limits,
// the pose `target` they give on a copy k of the arm, and SetPosition of it
// on a copy `solver` carrying k's configuration; code is what that threw (-1: solved).
template <class Kind>
struct RoundTripSample {
    float q[6] = {0, 0, 0, 0, 0, 0};
    Kind k;
    DataTypes::Matrix44 target;
    Kind solver;
    int code = -1;
};

template <class Kind>
RoundTripSample<Kind> SampleRoundTrip(const Kind& arm, std::mt19937& rng) {
    RoundTripSample<Kind> s;
    for (int i = 0; i < arm.jointCount; ++i) {
        std::uniform_real_distribution<float> pick(arm.InternalToUser(i, arm.jointMin[i]) * 0.95f,
                                                    arm.InternalToUser(i, arm.jointMax[i]) * 0.95f);
        s.q[i] = pick(rng);
    }
    s.k = arm;
    s.k.SetJoints(s.q, false);
    s.target = s.k.pose;
    s.solver = s.k;
    s.code = ThrownCode([&] { s.solver.SetPosition(s.target); });
    return s;
}

// Runs `samples` round trips from `seed`. A refused target must throw one of
// `refusals`; a solved one has its joints put through the forward kinematics
// of a fresh copy of the arm, and onSolved(sample, solution, check) judges it.
template <class Kind, class OnSolved>
void ForEachSolvedRoundTrip(const Kind& arm, unsigned seed, int samples, std::initializer_list<int> refusals,
                            OnSolved onSolved) {
    std::mt19937 rng(seed);
    for (int n = 0; n < samples; ++n) {
        const RoundTripSample<Kind> sample = SampleRoundTrip(arm, rng);
        if (sample.code != -1) {
            EXPECT_NE(std::find(refusals.begin(), refusals.end(), sample.code), refusals.end()) << sample.code;
            continue;
        }
        float solution[6] = {0, 0, 0, 0, 0, 0};
        sample.solver.GetJoints(solution);
        Kind check = arm;
        check.SetJoints(solution, false);
        onSolved(sample, solution, check);
    }
}

inline int CountOccurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
    return n;
}

}  // namespace KinTest
