// The camera pick sample end to end: the controller, the joint-bus simulator
// and the camera simulator run as processes on loopback ports; a front-end
// client (orvane-frontend) enables the robot, loads the sample program
// CameraPick.xml and starts it, and traces every status telegram. Every wait is
// a wait for something observable with a generous limit, so a loaded machine or
// a sanitizer build only makes it slower.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ExampleBase.h"
#include "support/LoopbackPorts.h"
#include "support/SimulatorControl.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStartMs = 60000;
constexpr int kRunMs = 180000;

const std::string kBin = ORVANE_BIN_DIR;
const std::string kProgram = "CameraPick.xml";
const std::string kConfig = "Data/Plugins/ConfigSmartCameraIFMO2D.xml";

// The wait pose of the program (its Joint element) and the index of its Plugin element.
const double kWaitJoints[6] = {0, 5, 30, 0, 55, 0};
const std::string kWaitingInfo = "ProgramInfo CameraPick.xml 13 6";

// The sample camera looks straight down from (400, 0, 750) onto the table at
// z 150; image x runs along base x, image y against base y, 0.5 mm per pixel,
// image centre (320, 240).
struct Point {
    double x, y, z;
};
Point PixelToBase(int px, int py) { return {400.0 + (px - 320) * 0.5, -(py - 240) * 0.5, 150.0}; }

// The gripper (Gripper2F.xml: 0 ... 70 mm, GearScale -10, GearZero 210) at
// 30 % (the program's closed position) is 21 mm: 210 - 210 = 0 counts.
constexpr long long kGripperClosedCounts = 0;

double Wrap180(double angle) {
    while (angle > 180.0) angle -= 360.0;
    while (angle <= -180.0) angle += 360.0;
    return angle;
}

// One row of the front-end's trace file, by column name.
using Row = std::map<std::string, double>;

std::vector<Row> ReadTrace(const std::string& path) {
    std::vector<Row> rows;
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> names;
    if (!std::getline(in, line)) return rows;
    std::istringstream header(line);
    for (std::string name; std::getline(header, name, ',');) names.push_back(name);
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
        if (fields.size() != names.size()) continue;  // a line still being written
        Row row;
        for (size_t i = 0; i + 1 < names.size(); ++i) row[names[i]] = std::atof(fields[i].c_str());
        rows.push_back(row);
    }
    return rows;
}

double Distance(const Row& row, const Point& p) {
    return std::sqrt(std::pow(row.at("x") - p.x, 2) + std::pow(row.at("y") - p.y, 2) +
                     std::pow(row.at("z") - p.z, 2));
}

std::string Show(const Row& row) {
    std::ostringstream out;
    for (const char* k : {"set1", "set2", "set3", "set4", "set5", "set6", "x", "y", "z", "a", "b", "c"})
        out << k << "=" << row.at(k) << " ";
    return out.str();
}

class CameraPickSystem : public ::testing::Test {
protected:
    // Stages the sample at <temp>/Orvane with the camera at a free port (or, with
    // an empty address, no camera at all) and starts the three processes.
    void Start(bool cameraConfigured) {
        base = dir.Path() + "/Orvane";
        trace = dir.Path() + "/trace.csv";
        fs::create_directories(base);
        fs::copy(std::string(ORVANE_SOURCE_DIR) + "/examples/SixAxisGripperV2", base, fs::copy_options::recursive);

        const int bus = LoopbackPorts::FreeUdpPair();
        const int frontendPort = LoopbackPorts::FreeTcp();
        cameraPort = LoopbackPorts::FreeTcp();
        for (int i = 0; i < 20 && cameraPort == frontendPort; ++i) cameraPort = LoopbackPorts::FreeTcp();
        ASSERT_GT(bus, 0);
        ASSERT_GT(frontendPort, 0);
        ASSERT_GT(cameraPort, 0);
        ASSERT_NE(cameraPort, frontendPort);
        EditConfig("Port=\"50010\"", "Port=\"" + std::to_string(cameraPort) + "\"");
        if (!cameraConfigured) EditConfig("IP=\"127.0.0.1\"", "IP=\"\"");

        sim = SimulatorControl::Launch(base, bus);
        ASSERT_TRUE(sim->WaitForOutput("ready", kStartMs)) << sim->Output();
        controlPort = SimulatorControl::AnnouncedPort(sim->Output());
        ASSERT_GT(controlPort, 0) << sim->Output();

        camera = std::make_unique<ChildProcess>(kBin + "/orvane-camsim",
                                                std::vector<std::string>{"--port", std::to_string(cameraPort)});
        ASSERT_TRUE(camera->WaitForOutput("listening on 127.0.0.1:" + std::to_string(cameraPort), kStartMs))
            << camera->Output();

        orvane = std::make_unique<ChildProcess>(
            kBin + "/orvane", std::vector<std::string>{}, base,
            std::vector<std::string>{"ORVANE_CAN=udp:" + std::to_string(bus),
                                     "ORVANE_FRONTEND_PORT=" + std::to_string(frontendPort)});
        ASSERT_TRUE(orvane->WaitForOutput("NEX-Server: waiting for client", kStartMs)) << orvane->Output();

        frontend = std::make_unique<ChildProcess>(
            kBin + "/orvane-frontend",
            std::vector<std::string>{"--port", std::to_string(frontendPort), "--status-every", "0", "--timeout",
                                     "120", "--trace", trace});
        ASSERT_TRUE(WaitFor([&] { return frontend->Output().find("connected to") != std::string::npos; },
                            kStartMs))
            << frontend->Output();
        frontend->Write("enable\nwait-ready\noverride 100\nload " + kProgram + "\nstart\n");
        ASSERT_TRUE(WaitFor([&] { return Has(*orvane, "IPO: Starting program with 13 points, first: CommandGripper"); },
                            kStartMs))
            << orvane->Output() << "\n---- front-end:\n" << frontend->Output();
    }

    void TearDown() override {
        // The ChildProcess destructors kill and reap whatever still runs.
        frontend.reset();
        orvane.reset();
        camera.reset();
        sim.reset();
    }

    void EditConfig(const std::string& from, const std::string& to) {
        ASSERT_TRUE(ExampleBase::ReplaceInFile(base + "/" + kConfig, from, to));
    }

    static bool Has(const ChildProcess& p, const std::string& text) {
        return p.Output().find(text) != std::string::npos;
    }

    // Reads what every process has written, so that no pipe fills up.
    void Pump() {
        for (ChildProcess* p : {orvane.get(), sim.get(), camera.get(), frontend.get()})
            if (p != nullptr) p->WaitForOutput("\x01", 5);
    }

    bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Pump();
        }
        return true;
    }

    // The controller's answer to a program information request, e.g.
    // "ProgramInfo CameraPick.xml 13 6" (name, command count, current command).
    std::string Info() {
        const std::string tag = "ANSWER INFO ";
        auto count = [&] {
            size_t n = 0;
            for (size_t at = frontend->Output().find(tag); at != std::string::npos;
                 at = frontend->Output().find(tag, at + 1))
                ++n;
            return n;
        };
        const size_t before = count();
        frontend->Write("info\n");
        if (!WaitFor([&] { return count() > before; }, kStartMs)) return "";
        const std::string& out = frontend->Output();
        const size_t at = out.rfind(tag) + tag.size();
        return out.substr(at, out.find('\n', at) - at);
    }

    // Gripper set-point in counts as the simulated gripper module received it.
    long long GripperTarget() {
        const std::string status = Control("status");
        std::smatch match;
        if (!std::regex_search(status, match, std::regex("module 0x70 gripper [^\\n]* target (-?[0-9]+)")))
            return -1000000;
        return std::stoll(match[1].str());
    }

    std::string Control(const std::string& command) const { return SimulatorControl(controlPort).Command(command); }

    void Shutdown() {
        frontend->Write("shutdown 99\n");
        EXPECT_EQ(orvane->Wait(kStartMs), 0) << orvane->Output();
        EXPECT_TRUE(Has(*orvane, "IFM O2D Client: stopping com thread...") || !cameraThreadExpected)
            << orvane->Output();
        EXPECT_FALSE(Has(*orvane, "Sanitizer")) << orvane->Output();
    }

    TempDir dir;
    std::string base;
    std::string trace;
    int cameraPort = 0;
    int controlPort = 0;
    bool cameraThreadExpected = true;
    std::unique_ptr<ChildProcess> sim, camera, orvane, frontend;
};

}  // namespace

// The sample pick program waits at its wait pose until the camera reports a
// part, then moves above it, down onto it, closes the gripper, lifts and ends.
TEST_F(CameraPickSystem, PickProgramWaitsForTheCameraTargetAndPicksThePart) {
    ASSERT_NO_FATAL_FAILURE(Start(true));
    ASSERT_TRUE(WaitFor([&] { return Has(*camera, "client connected"); }, kStartMs)) << camera->Output();
    ASSERT_TRUE(WaitFor(
        [&] { return Has(*orvane, "Camera Client IFM O2D connected to 127.0.0.1 port " + std::to_string(cameraPort)); },
        kStartMs))
        << orvane->Output();

    // No result yet: the program stands at its Plugin element, the robot at the wait pose.
    ASSERT_TRUE(WaitFor([&] { return Info() == kWaitingInfo; }, kRunMs)) << frontend->Output() << orvane->Output();
    std::vector<Row> rows = ReadTrace(trace);
    ASSERT_FALSE(rows.empty());
    const size_t waitingFrom = rows.size() - 1;
    for (int j = 0; j < 6; ++j)
        EXPECT_NEAR(rows.back().at("set" + std::to_string(j + 1)), kWaitJoints[j], 0.05) << Show(rows.back());
    // A while later (1.5 s and ten telegrams at least) it still waits and nothing has moved.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    WaitFor([&] { return std::chrono::steady_clock::now() > until && ReadTrace(trace).size() > waitingFrom + 10; },
            kRunMs);
    EXPECT_EQ(Info(), kWaitingInfo);
    rows = ReadTrace(trace);
    ASSERT_GT(rows.size(), waitingFrom + 10) << "too few status telegrams while waiting";
    for (size_t i = waitingFrom; i < rows.size(); ++i)
        for (int j = 1; j <= 6; ++j)
            ASSERT_NEAR(rows[i].at("set" + std::to_string(j)), kWaitJoints[j - 1], 0.05) << Show(rows[i]);
    EXPECT_FALSE(Has(*orvane, "IPO: Program done"));

    // The camera sees a part of class 3 at pixel (420, 300), turned by 30 degrees.
    camera->Write("pass 3 420 300 30\n");
    ASSERT_TRUE(WaitFor([&] { return Has(*camera, "sent 0000startPASS"); }, kStartMs)) << camera->Output();
    ASSERT_TRUE(WaitFor([&] { return Has(*orvane, "IPO: Program done"); }, kRunMs)) << orvane->Output();
    const std::string out = orvane->Output();
    EXPECT_NE(out.find("Plugin: X=450.0 Y=-30.0 Z=150.0 -- A=30.0 B=180.0 C=0.0  - ModelClass=3"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("Logic IPO ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("PG: Error"), std::string::npos) << out;

    // The tool went down onto the part and ended lifted 60 mm above it, the
    // gripper pointing down and turned with the part (A = 30 + 180 of the
    // gripper-down frame, a6 = a1 - 30).
    const Point part = PixelToBase(420, 300);
    const Point lifted{part.x, part.y, part.z + 60.0};
    ASSERT_TRUE(WaitFor(
        [&] {
            rows = ReadTrace(trace);
            return !rows.empty() && Distance(rows.back(), lifted) < 0.5;
        },
        kRunMs))
        << (rows.empty() ? "no trace" : Show(rows.back()));
    bool reached = false;
    for (size_t i = waitingFrom; i < rows.size() && !reached; ++i) reached = Distance(rows[i], part) < 0.5;
    EXPECT_TRUE(reached) << "the tool never stood at the part";
    const Row& last = rows.back();
    EXPECT_NEAR(Wrap180(last.at("a") - 210.0), 0.0, 0.2) << Show(last);
    EXPECT_NEAR(last.at("b"), 0.0, 0.2) << Show(last);
    EXPECT_NEAR(std::fabs(last.at("c")), 180.0, 0.2) << Show(last);
    EXPECT_NEAR(last.at("set6") - last.at("set1"), -30.0, 0.2) << Show(last);
    EXPECT_TRUE(WaitFor([&] { return GripperTarget() == kGripperClosedCounts; }, kRunMs)) << GripperTarget();

    Shutdown();
}

// Without a camera address the client never starts: the program stops at its
// Plugin element with the camera error instead of waiting for ever.
TEST_F(CameraPickSystem, WithoutCameraAddressTheProgramStopsWithTheCameraError) {
    cameraThreadExpected = false;
    ASSERT_NO_FATAL_FAILURE(Start(false));
    ASSERT_TRUE(WaitFor([&] { return Has(*orvane, "Logic IPO ERROR: PluginManager - Camera not connected!"); },
                        kRunMs))
        << orvane->Output();
    const std::string out = orvane->Output();
    EXPECT_EQ(OutputMismatch(out, {"Camera Client IFM O2D: no camera address configured", "Error! IFM-O2D not connected!"},
                             {"IPO: Program done"}),
              "")
        << out;
    EXPECT_EQ(Info(), "ProgramInfo CameraPick.xml 13 -1");
    EXPECT_FALSE(Has(*camera, "client connected"));
    Shutdown();
}

// A result that puts the part out of the arm's reach: the move to it cannot be
// planned, and the program stops with the reason instead of holding for ever;
// the robot stays at its wait pose.
TEST_F(CameraPickSystem, UnreachableCameraTargetStopsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(Start(true));
    ASSERT_TRUE(WaitFor([&] { return Info() == kWaitingInfo; }, kRunMs)) << frontend->Output() << orvane->Output();
    camera->Write("pass 1 5000 240 0\n");  // 2740 mm out along x
    ASSERT_TRUE(WaitFor([&] { return Has(*orvane, "IPO: no path to command 8 of program 0, stopping"); }, kRunMs))
        << orvane->Output();
    const std::string out = orvane->Output();
    EXPECT_EQ(OutputMismatch(out, {"Plugin: X=2740.0 Y=0.0 Z=150.0", "PG: Error in ComputePath: 22"},
                             {"IPO: Program done"}),
              "")
        << out;
    EXPECT_EQ(Info(), "ProgramInfo CameraPick.xml 13 -1");
    const std::vector<Row> rows = ReadTrace(trace);
    ASSERT_FALSE(rows.empty());
    for (int j = 0; j < 6; ++j)
        EXPECT_NEAR(rows.back().at("set" + std::to_string(j + 1)), kWaitJoints[j], 0.05) << Show(rows.back());
    Shutdown();
}

// A FAIL without "stop" while the program waits for a part does not swallow
// the PASS that follows: the program picks the part it reports.
TEST_F(CameraPickSystem, FailWithoutStopDoesNotSwallowTheNextPass) {
    ASSERT_NO_FATAL_FAILURE(Start(true));
    ASSERT_TRUE(WaitFor([&] { return Info() == kWaitingInfo; }, kRunMs)) << frontend->Output() << orvane->Output();
    camera->Write("fail nostop\n");
    ASSERT_TRUE(WaitFor([&] { return Has(*camera, "sent 0000startFAIL\n"); }, kStartMs)) << camera->Output();
    EXPECT_EQ(Info(), kWaitingInfo);
    camera->Write("pass 3 420 300 30\n");
    ASSERT_TRUE(WaitFor([&] { return Has(*orvane, "IPO: Program done"); }, kRunMs)) << orvane->Output();
    EXPECT_NE(orvane->Output().find("Plugin: X=450.0 Y=-30.0 Z=150.0 -- A=30.0 B=180.0 C=0.0  - ModelClass=3"),
              std::string::npos)
        << orvane->Output();
    Shutdown();
}
