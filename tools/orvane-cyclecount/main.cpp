// orvane-cyclecount: runs the robot cycle step of a six-axis arm with protocol
// V2 against joint modules simulated in the same process (no gap between
// frames, no sleeping between cycles) for N cycles of one situation, so that
// callgrind can count the instructions of the cycle alone. See tools/README.md.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#endif
#endif
#ifndef CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_TOGGLE_COLLECT
#endif

#include "BusEcho.h"
#include "LogSingleton.h"
#include "PkgHardware/HardwareProtocolVKTCANV2.h"
#include "PkgKinematics/KinematicFactory.h"
#include "PkgKinematics/RobotKinematic.h"
#include "PkgKinematics/RobotMaster.h"

namespace {

const char* kRobotFile =
    "<?xml version=\"1.0\"?>\n"
    "<Robot>\n"
    "  <BusConfiguration Protocol=\"VKTCANV2\" CycleTimeMS=\"10\" GapMS=\"0\">\n"
    "    <Joints NrOfJoints=\"6\"/>\n"
    "    <Joint0 ID=\"16\" GearScale=\"190.0\" GearZero=\"0.0\"/>\n"
    "    <Joint1 ID=\"32\" GearScale=\"190.0\" GearZero=\"0.0\"/>\n"
    "    <Joint2 ID=\"48\" GearScale=\"190.0\" GearZero=\"0.0\"/>\n"
    "    <Joint3 ID=\"64\" GearScale=\"190.0\" GearZero=\"0.0\"/>\n"
    "    <Joint4 ID=\"80\" GearScale=\"190.0\" GearZero=\"0.0\"/>\n"
    "    <Joint5 ID=\"96\" GearScale=\"190.0\" GearZero=\"0.0\"/>\n"
    "  </BusConfiguration>\n"
    "  <Referencing Mandatory=\"false\"/>\n"
    "  <Kinematic Type=\"StandardSixAxisPlus\" lz0=\"122.15\" lx1=\"0\" lz1=\"76.3\" lx2=\"350\" lx3=\"400\""
    " lz3=\"45\" lx4=\"0\" lx6=\"80\"/>\n"
    "  <SoftwareMinMax A1Min=\"-170\" A1Max=\"170\" A2Min=\"-120\" A2Max=\"120\" A3Min=\"-170\" A3Max=\"170\""
    " A4Min=\"-190\" A4Max=\"190\" A5Min=\"-130\" A5Max=\"130\" A6Min=\"-190\" A6Max=\"190\"/>\n"
    "  <JointVelocities A1=\"30\" A2=\"30\" A3=\"30\" A4=\"45\" A5=\"45\" A6=\"60\"/>\n"
    "  <ManufacturerJointConfig zOffset=\"0\" A3Offset=\"90\"/>\n"
    "  <SINGULARITIES Wrist=\"5\" Center=\"100\" Ellbow=\"5\"/>\n"
    "  <Orvane DebugMode=\"false\" DisplayPort=\"\"/>\n"
    "</Robot>\n";

// Ten straight moves around the start pose, corners smoothed, 40 mm/s: one
// planned path of about 17 s (1700 cycles), longer than a measurement.
const char* kProgramFile =
    "<?xml version=\"1.0\"?>\n"
    "<Program>\n"
    "  <Relative Nr=\"1\" MoType=\"CartBase\" x=\"60\" y=\"0\" z=\"0\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"2\" MoType=\"CartBase\" x=\"0\" y=\"60\" z=\"0\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"3\" MoType=\"CartBase\" x=\"-60\" y=\"0\" z=\"-40\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"4\" MoType=\"CartBase\" x=\"-60\" y=\"0\" z=\"0\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"5\" MoType=\"CartBase\" x=\"0\" y=\"-60\" z=\"40\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"6\" MoType=\"CartBase\" x=\"60\" y=\"-60\" z=\"0\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"7\" MoType=\"CartBase\" x=\"30\" y=\"30\" z=\"20\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"8\" MoType=\"CartBase\" x=\"-30\" y=\"30\" z=\"20\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"9\" MoType=\"CartBase\" x=\"0\" y=\"0\" z=\"-40\" vel=\"40\" acc=\"100\" smooth=\"50\"/>\n"
    "  <Relative Nr=\"10\" MoType=\"CartBase\" x=\"0\" y=\"0\" z=\"0\" vel=\"40\" acc=\"100\" smooth=\"0\"/>\n"
    "</Program>\n";

int Usage(const std::string& why) {
    if (!why.empty()) std::cerr << "orvane-cyclecount: " << why << "\n";
    std::cerr << "usage: orvane-cyclecount --scenario joint|cart|replay [--cycles N]\n"
                 "Run under: valgrind --tool=callgrind --collect-atstart=no orvane-cyclecount ...\n";
    return 2;
}

bool WriteFile(const std::string& path, const char* text) {
    std::ofstream out(path);
    out << text;
    return bool(out);
}

// Temporary working folder: robot file, program and the log files.
struct WorkDir {
    std::string path;
    WorkDir() {
        char name[] = "/tmp/orvane-cyclecount-XXXXXX";
        if (mkdtemp(name) != nullptr) path = name;
    }
    ~WorkDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string scenario;
    long cycles = 500;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (a == "--cycles" && i + 1 < argc) {
            char* end = nullptr;
            cycles = std::strtol(argv[++i], &end, 10);
            if (end == nullptr || *end != '\0' || cycles < 1 || cycles > 100000) return Usage("bad cycle count");
        } else {
            return Usage("unknown option " + a);
        }
    }
    if (scenario != "joint" && scenario != "cart" && scenario != "replay") return Usage("no scenario");

    WorkDir dir;
    if (dir.path.empty() || chdir(dir.path.c_str()) != 0) {
        std::cerr << "orvane-cyclecount: cannot make a working folder\n";
        return 1;
    }
    LogSingleton::instance()->SetConsoleEcho(false);
    const std::string robotFile = dir.path + "/robot.xml";
    if (!WriteFile(robotFile, kRobotFile) || !WriteFile(dir.path + "/Replay.xml", kProgramFile)) {
        std::cerr << "orvane-cyclecount: cannot write the robot and program files\n";
        return 1;
    }

    std::unique_ptr<RobotKinematic> kinematic = KinematicFactory::Create("StandardSixAxisPlus");
    kinematic->Init("bench", "bench", robotFile);
    float start[9] = {0.0f, 20.0f, 20.0f, 0.0f, 50.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    kinematic->SetJoints(start, false);

    auto protocol = std::make_unique<HardwareProtocolVKTCANV2>();
    protocol->Init("bench", "bench", robotFile);
    HardwareProtocolVKTCANV2* bus = protocol.get();
    BusEcho echo(&bus->canInterface);
    bus->canInterface.ConnectToSink(echo.Sink());
    bus->Connect();

    RobotMaster robot;
    robot.Assemble(std::move(kinematic), std::move(protocol), 10, false);
    robot.GetInterpreter().SetProgramDirectory(dir.path + "/");
    robot.SetMotionMode(2);  // Cartesian base: zero jog holds the start pose while the bus comes up

    auto cycle = [&]() {
        robot.RunCycleOnce();
        echo.Answer();
    };
    for (int k = 0; k < 20; ++k) cycle();
    DataTypes::RobotState s;
    robot.GetValues(&s);
    if (s.errorText != "NoError") {
        std::cerr << "orvane-cyclecount: the simulated bus did not come up: " << s.errorText << "\n";
        return 1;
    }

    float jog[RobotMaster::jogCount] = {0};
    if (scenario == "joint") {
        robot.SetMotionMode(1);
        for (int i = 0; i < 6; ++i) jog[i] = 50.0f;
    } else if (scenario == "cart") {
        robot.SetMotionMode(2);
        jog[0] = 50.0f;  // X
        jog[2] = 30.0f;  // Z
        jog[5] = 40.0f;  // C
    } else {
        if (robot.ProgramLoad("Replay.xml") != 0) {
            std::cerr << "orvane-cyclecount: the replay program did not load\n";
            return 1;
        }
        robot.StartProgram();
        // Plan the path (worker thread), then run until the path is being sampled.
        for (int k = 0; k < 20000 && robot.GetInterpreter().GetPathTime() <= 0; ++k) {
            cycle();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (robot.GetInterpreter().GetPathTime() <= 0) {
            std::cerr << "orvane-cyclecount: the replay path was not planned\n";
            return 1;
        }
    }

    long kinErrors = 0;
    // How far the set-points travelled: proof that the cycles moved the arm.
    float travelJoint = 0.0f, travelMm = 0.0f;
    robot.GetValues(&s);
    float lastJoint = s.jointSetPoint[0];
    DataTypes::Vector3 lastPoint(s.posCartRobot(0, 3), s.posCartRobot(1, 3), s.posCartRobot(2, 3));
    const long framesBefore = echo.FramesSeen();
    const auto t0 = std::chrono::steady_clock::now();
    for (long n = 0; n < cycles; ++n) {
        if (scenario != "replay") {
            // Turn back every 100 cycles so the arm stays inside its workspace.
            float sign = ((n / 100) % 2 == 0) ? 1.0f : -1.0f;
            float v[RobotMaster::jogCount];
            for (int i = 0; i < RobotMaster::jogCount; ++i) v[i] = jog[i] * sign;
            robot.SetJogValues(v);  // the main loop's work, not the cycle's
        }
        CALLGRIND_TOGGLE_COLLECT;
        robot.RunCycleOnce();
        CALLGRIND_TOGGLE_COLLECT;
        echo.Answer();
        robot.GetValues(&s);
        if (s.kinState != 0) ++kinErrors;
        travelJoint += std::fabs(s.jointSetPoint[0] - lastJoint);
        lastJoint = s.jointSetPoint[0];
        DataTypes::Vector3 point(s.posCartRobot(0, 3), s.posCartRobot(1, 3), s.posCartRobot(2, 3));
        travelMm += DataTypes::Vector3(point.x - lastPoint.x, point.y - lastPoint.y, point.z - lastPoint.z).Length();
        lastPoint = point;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    const bool stillRunning = scenario != "replay" || robot.ProgramRunning();
    std::printf("scenario %s cycles %ld frames/cycle %.1f kinematic-errors %ld error-text %s%s\n", scenario.c_str(),
                cycles, double(echo.FramesSeen() - framesBefore) / double(cycles), kinErrors, s.errorText.c_str(),
                stillRunning ? "" : " (program ended before the last cycle)");
    std::printf("travel: joint 1 %.1f deg, tool point %.1f mm\n", double(travelJoint), double(travelMm));
    std::printf("wall time %.2f us/cycle (bus answers included; meaningful only outside valgrind)\n",
                seconds * 1e6 / double(cycles));
    robot.StopProgram();
    bus->Disconnect();
    return (kinErrors == 0 && stillRunning && s.errorText == "NoError") ? 0 : 1;
}
