// The protocols against the joint-bus simulator, over the UDP loopback transport.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "PkgHardware/HardwareProtocolVKTCAN.h"
#include "PkgHardware/HardwareProtocolVKTCANV2.h"
#include "support/ChildProcess.h"
#include "support/LoopbackPorts.h"
#include "support/SimulatorControl.h"
#include "support/TempDir.h"

namespace {

// A client of the simulator's control port.
class Control {
public:
    explicit Control(int port) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        connected = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Control() {
        if (fd >= 0) close(fd);
    }
    // Sends one line; returns the reply up to and including "ok" or an error line.
    std::string Send(const std::string& line) {
        std::string text = line + "\n";
        if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != ssize_t(text.size())) return "send failed";
        std::string reply;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (reply.size() >= 3 && reply.compare(reply.size() - 3, 3, "ok\n") == 0) break;
            if (reply.rfind("error:", 0) == 0 && reply.back() == '\n') break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) != 1) continue;
            char buffer[1024];
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            reply.append(buffer, size_t(n));
        }
        return reply;
    }
    int fd = -1;
    bool connected = false;
};

struct SimProject {
    TempDir dir;
    std::string robotFile;

    explicit SimProject(const std::string& protocol) {
        dir.Write("VKTFrontend.xml", "<VKTModule><StartUp Project=\"\\Data\\Projects\\p.xml\"/></VKTModule>");
        bool v2 = protocol == "VKTCANV2";
        dir.Write("Data/Projects/p.xml",
                  std::string("<ProjectFile><Robot Name=\"bench\" Type=\"Arm3\"") +
                      (v2 ? " Tool=\"grip.xml\" MobilePlatform=\"Rover\"" : "") +
                      "/><Program File=\"a.xml\" Override=\"50\"/>"
                      "<DIOModule ID=\"144\"/><DIOModule ID=\"148\"/></ProjectFile>");
        std::string zero = v2 ? "0" : "32000";
        robotFile = dir.Write("Data/Robots/Arm3/Arm3.xml",
                              "<Robot><BusConfiguration Protocol=\"" + protocol +
                                  "\" CycleTimeMS=\"10\" GapMS=\"0\"><Joints NrOfJoints=\"3\"/>"
                                  "<Joint0 ID=\"16\" GearScale=\"190\" GearZero=\"" + zero + "\"/>"
                                  "<Joint1 ID=\"32\" GearScale=\"-100\" GearZero=\"" + zero + "\"/>"
                                  "<Joint2 ID=\"48\" GearScale=\"50\" GearZero=\"" + zero + "\"/>"
                                  "</BusConfiguration><Referencing Mandatory=\"true\"/><Kinematic Type=\"Cartesian\"/></Robot>");
        dir.Write("Data/Tools/grip.xml", "<Tool><KINEMATIC/><INTERFACE BusID=\"112\" GearScale=\"-10\" GearZero=\"210\"/></Tool>");
    }
};

// Reads the project's robot file into p and connects it to the simulator; the connection status.
bool ConnectTo(HardwareProtocol& p, const SimProject& project, const SimulatorRun& sim) {
    p.Init("bench", "Arm3", project.robotFile);
    p.canInterface.SetTransport("udp:" + std::to_string(sim.busPort));
    p.Connect();
    return p.GetConnectionStatus();
}

// Runs protocol cycles about 5 ms apart until `done` holds; false after `maxCycles`.
bool CycleUntil(HardwareProtocol& p, DataTypes::RobotState& state, const std::function<bool()>& done,
                int maxCycles = 2000) {
    for (int i = 0; i < maxCycles; ++i) {
        p.SetJoints(state);
        p.GetJoints(&state);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace

TEST(JointSimSystem, ProtocolV2DrivesTheSimulatedRobot) {
    SimProject project("VKTCANV2");
    SimulatorRun sim;
    ASSERT_NO_FATAL_FAILURE(sim.Start(project.dir.Path()));
    EXPECT_NE(sim.process->Output().find("protocol VKTCANV2, 10 modules"), std::string::npos) << sim.process->Output();
    Control control(sim.controlPort);
    ASSERT_TRUE(control.connected);

    HardwareProtocolVKTCANV2 p;
    ASSERT_TRUE(ConnectTo(p, project, sim));
    p.InitTool(1, 112, -10.0f, 210.0f);
    p.InitPlatform(4);
    p.InitDIOModules(144);
    p.InitDIOModules(148);

    DataTypes::RobotState state;
    // Motors start not enabled.
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "_MNE"; }));
    EXPECT_FALSE(p.GetMotorEnabled());
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.supply.load() == 24000; }));
    EXPECT_EQ(p.emergencyStop.load(), 3);

    p.EnableMotors(true);
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "NoError"; }));
    EXPECT_TRUE(p.GetMotorEnabled());

    // A few hundred cycles of moving set-points; the read-back follows.
    for (int i = 0; i < 300; ++i) {
        float t = float(i) * 0.01f;
        state.jointSetPoint[0] = 30.0f * std::sin(t);
        state.jointSetPoint[1] = -12.5f + t;
        state.jointSetPoint[2] = 100.0f * t;
        state.gripperCurrent[0] = 40.0f;
        state.platformSetPoint[3] = t;
        p.SetJoints(state);
        p.GetJoints(&state);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    auto settled = [&] {
        return std::fabs(state.jointCurrent[0] - state.jointSetPoint[0]) < 0.006f &&
               std::fabs(state.jointCurrent[1] - state.jointSetPoint[1]) < 0.011f &&
               std::fabs(state.jointCurrent[2] - state.jointSetPoint[2]) < 0.021f &&
               std::fabs(state.gripperCurrent[0] - 40.0f) < 0.11f &&
               std::fabs(state.platformCurrent[3] - state.platformSetPoint[3]) < 0.003f;
    };
    // The gripper's measured value replaces gripperCurrent: keep sending 40.
    ASSERT_TRUE(CycleUntil(p, state, [&] {
        state.gripperCurrent[0] = std::fabs(state.gripperCurrent[0] - 40.0f) < 0.11f ? state.gripperCurrent[0] : 40.0f;
        return settled();
    }));
    EXPECT_EQ(p.GetErrorShort(), "NoError");

    // Referencing all arm joints.
    for (int j = 0; j < 3; ++j) p.ReferenceSingleJoint(j);
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.allJointsReferenced.load(); }));

    // Fault injection: a position lag on joint 1 shows in the error codes and the short text.
    EXPECT_EQ(control.Send("error 0x20 0x10"), "ok\n");
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "_LAG"; }));
    int codes[16] = {0};
    p.GetErrorHexCode(codes);
    EXPECT_EQ(codes[1], 0x10);
    EXPECT_FALSE(p.GetMotorEnabled());
    p.ResetError();
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "NoError"; }));

    // Supply, emergency stop, inputs of an I/O module and a temperature.
    EXPECT_EQ(control.Send("supply 15000"), "ok\n");
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "_LOWV"; }));
    EXPECT_EQ(control.Send("supply 24000"), "ok\n");
    EXPECT_EQ(control.Send("estop on"), "ok\n");
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort().rfind("ESTOP", 0) == 0; }));
    EXPECT_EQ(control.Send("estop off"), "ok\n");
    p.EnableMotors(true);
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "NoError"; }));

    EXPECT_EQ(control.Send("inputs 148 0x05"), "ok\n");
    bool inputs[64] = {false};
    ASSERT_TRUE(CycleUntil(p, state, [&] {
        p.GetDigitalIORail(inputs);
        return inputs[30] && inputs[32];
    }));
    EXPECT_FALSE(inputs[31]);
    EXPECT_FALSE(inputs[20]);
    EXPECT_EQ(control.Send("temp 16 40"), "ok\n");
    float temps[16] = {0};
    ASSERT_TRUE(CycleUntil(p, state, [&] {
        p.GetTempValues(temps);
        return std::fabs(temps[0] - 40.0f) < 0.2f;
    }));
    EXPECT_NE(control.Send("error 99 1").find("error: no module 99"), std::string::npos);
    EXPECT_NE(control.Send("bogus").find("error: unknown command"), std::string::npos);

    // Outputs reach the modules.
    p.SetRailIO(0, 2, true);
    p.SetIO(0, 1, true);
    ASSERT_TRUE(CycleUntil(p, state, [&] {
        std::string s = control.Send("status");
        return s.find("module 0x90 dio 0 enabled 1 errors 0x00 silent 0 referenced 0 counts 0 target 0 outputs 0x04") !=
                   std::string::npos &&
               s.find("module 0x10 joint 0 enabled 1 errors 0x00 silent 0 referenced 1") != std::string::npos &&
               s.find("outputs 0x02") != std::string::npos;
    }, 200));

    // The two-stage shutdown request.
    EXPECT_EQ(p.shutdownRequest.load(), 0);
    EXPECT_EQ(control.Send("shutdown"), "ok\n");
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.shutdownRequest.load() == 1; }));

    p.Disconnect();
    EXPECT_FALSE(p.GetConnectionStatus());
    EXPECT_EQ(control.Send("quit"), "ok\n");
    EXPECT_EQ(sim.process->Wait(10000), 0);
}

TEST(JointSimSystem, ProtocolV1DrivesTheSimulatedArm) {
    SimProject project("VKTCAN");
    SimulatorRun sim;
    ASSERT_NO_FATAL_FAILURE(sim.Start(project.dir.Path()));
    EXPECT_NE(sim.process->Output().find("protocol VKTCAN, 3 modules"), std::string::npos) << sim.process->Output();
    Control control(sim.controlPort);
    ASSERT_TRUE(control.connected);

    HardwareProtocolVKTCAN p;
    ASSERT_TRUE(ConnectTo(p, project, sim));
    DataTypes::RobotState state;
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "MNE"; }));
    p.EnableMotors(true);
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "NoError"; }));
    state.jointSetPoint[0] = 10.0f;
    state.jointSetPoint[1] = -20.0f;
    state.jointSetPoint[2] = 5.0f;
    ASSERT_TRUE(CycleUntil(p, state, [&] {
        return std::fabs(state.jointCurrent[0] - 10.0f) < 0.006f && std::fabs(state.jointCurrent[1] + 20.0f) < 0.011f &&
               std::fabs(state.jointCurrent[2] - 5.0f) < 0.021f;
    }));
    EXPECT_TRUE(p.GetMotorEnabled());
    EXPECT_EQ(control.Send("error 32 0x41"), "ok\n");
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "BOWD_OC"; }));
    p.ResetError();
    ASSERT_TRUE(CycleUntil(p, state, [&] { return p.GetErrorShort() == "NoError"; }));
    // The simulator ends on SIGTERM like an operator's Ctrl-C.
    sim.process->Signal(SIGTERM);
    EXPECT_EQ(sim.process->Wait(10000), 0);
}

TEST(JointSimSystem, TimestampsListEveryReceivedFrameInOrder) {
    SimProject project("VKTCANV2");
    const std::string stamps = project.dir.Path() + "/frames.txt";
    SimulatorRun sim;
    ASSERT_NO_FATAL_FAILURE(sim.Start(project.dir.Path(), {"--timestamps", stamps}));
    Control control(sim.controlPort);
    ASSERT_TRUE(control.connected);

    HardwareProtocolVKTCANV2 p;
    ASSERT_TRUE(ConnectTo(p, project, sim));
    DataTypes::RobotState state;
    const int cycles = 20;
    for (int i = 0; i < cycles; ++i) {
        p.SetJoints(state);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The status reply comes after every frame sent before it was read.
    EXPECT_NE(control.Send("status").find("ok"), std::string::npos);
    control.Send("quit");
    for (int i = 0; i < 200 && sim.process->Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(sim.process->Running());
    p.Disconnect();

    std::ifstream in(stamps);
    ASSERT_TRUE(in.good());
    int perJoint[3] = {0, 0, 0};
    double last = 0.0;
    std::string line;
    while (std::getline(in, line)) {
        double t = 0.0;
        int id = 0, length = 0, first = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %d %d %d", &t, &id, &length, &first), 4) << line;
        EXPECT_GE(t, last) << line;
        last = t;
        for (int k = 0; k < 3; ++k)
            if (id == 16 * (k + 1) && length == 8 && first == 0x14) perJoint[k]++;
    }
    for (int k = 0; k < 3; ++k) EXPECT_EQ(perJoint[k], cycles) << "joint " << k;
}
