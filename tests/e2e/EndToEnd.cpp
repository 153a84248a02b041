// The demo scenario of scripts/demo.sh, headless, for every example robot
// kind: the controller and the joint-bus simulator run as processes on the
// UDP loopback transport, and a front-end client drives the controller over
// its TCP port: enable, reference, jog in joint and Cartesian modes, upload,
// load and run the demo program, shut down. Checks go to the status
// telegrams, to the simulator's view of its modules and to the controller's
// log. Every wait is a wait for a condition with a generous limit: nothing is
// timed, so a loaded machine or a sanitizer build only makes it slower.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ComStatusTelegram.h"
#include "FrontendClient.h"
#include "FrontendScript.h"
#include "e2e/DemoProgram.h"
#include "support/SimulatorControl.h"
#include "e2e/AttachScript.h"
#include "e2e/StagedRobot.h"
#include "support/ChildProcess.h"
#include "support/LoopbackPorts.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Limits of the waits: far above what the scenario needs on a quiet machine.
constexpr int kStartMs = 90000;
constexpr int kStepMs = 30000;
constexpr int kProgramMs = 240000;

const std::string kMainProgram = "DemoPickPlace.xml";

// A jog: axis 1..6 (joint, or X, Y, Z, A, B, C), value in percent (its sign
// is the direction), held until the joint or coordinate has moved this far.
struct Jog {
    int axis;
    float percent;
    float distance;
};

struct Kind {
    const char* name;
    const char* example;
    std::vector<Jog> jointJogs;
    bool platformJog;  // the Cartesian jog moves the mobile platform
    Jog cartesianJog;
};

// The jogs are those of scripts/demo.sh: from the start pose (all joints 0)
// they stay clear of joint limits and singularities. The four- and five-axis
// arms stand stretched at 0, so their elbow is bent before the Cartesian jog.
const Kind kKinds[] = {
    {"SixAxis", "SixAxisGripperV2", {{5, 60, 5}}, false, {3, 60, 5}},
    {"FourAxis", "FourAxisV2", {{2, 60, 5}, {3, 100, 30}}, false, {3, -60, 5}},
    {"FiveAxis", "FiveAxisV2", {{2, 60, 5}, {3, 100, 30}}, false, {3, -60, 5}},
    {"Delta", "DeltaV2", {{1, 40, 5}}, false, {3, 60, 5}},
    {"Cartesian", "CartesianV2", {{1, 60, 10}}, false, {2, 60, 10}},
    {"Platform", "PlatformV2", {}, true, {1, 60, 0}},
    {"SixAxisV1", "SixAxisV1", {{5, 60, 5}}, false, {3, 60, 5}},
};

void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

std::string Show(const ComStatusTelegram& s) { return s.ToReadable(); }

class EndToEnd : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        robot = std::make_unique<StagedRobot>(GetParam().example);
        const int busPort = LoopbackPorts::FreeUdpPair();
        const int frontendPort = LoopbackPorts::FreeTcp();
        ASSERT_GT(busPort, 0);
        ASSERT_GT(frontendPort, 0);

        sim = SimulatorControl::Launch(robot->Base(), busPort);
        ASSERT_TRUE(sim->WaitForOutput("ready", kStartMs)) << sim->Output();
        const int controlPort = SimulatorControl::AnnouncedPort(sim->Output());
        ASSERT_GT(controlPort, 0) << sim->Output();
        control.SetPort(controlPort);

        orvane = std::make_unique<ChildProcess>(
            std::string(ORVANE_BIN_DIR) + "/orvane", std::vector<std::string>{}, robot->Base(),
            std::vector<std::string>{"ORVANE_CAN=udp:" + std::to_string(busPort),
                                     "ORVANE_FRONTEND_PORT=" + std::to_string(frontendPort)});
        orvane->CloseInput();
        StartPump();

        script = AttachScript(client, true, kStepMs);
        client.SetStatusHook([this](const ComStatusTelegram& s) { Follow(s); });
        std::string error;
        ASSERT_TRUE(client.Connect("127.0.0.1", frontendPort, kStartMs, &error)) << error;
        ASSERT_TRUE(WaitTelegrams(1)) << "no status telegram from the controller";
    }

    void TearDown() override {
        client.Close();
        StopPump();
        // The ChildProcess destructors kill and reap whatever still runs.
        orvane.reset();
        sim.reset();
    }

    // Drains both processes' output on a thread of its own, so that a full
    // pipe never blocks them; nothing else touches them while it runs.
    void StartPump() {
        pumping.store(true);
        pump = std::thread([this] {
            while (pumping.load()) {
                orvane->WaitForOutput("\x01", 10);
                sim->WaitForOutput("\x01", 10);
                if (!orvane->Running()) orvaneAlive.store(false);
                if (!sim->Running()) simAlive.store(false);
            }
        });
    }
    void StopPump() {
        pumping.store(false);
        if (pump.joinable()) pump.join();
    }

    // While following is on, how far each telegram's measured joints lie from
    // the set-points the controller had sent until then (reader thread). The
    // simulated joints take each set-point at once, so the measured joints are
    // an earlier set-point, or lie between two telegrams' set-points (the cycle
    // is faster than the telegrams). How much earlier depends on the machine's
    // load, so the whole run counts, not the newest set-point. A position the
    // bus cannot carry, a wrong sign or scale shows as a gap.
    void Follow(const ComStatusTelegram& s) {
        std::lock_guard<std::mutex> lock(followMutex);
        if (!following) return;
        std::array<float, 7> setPoint{};
        for (size_t j = 0; j < 7; ++j) setPoint[j] = s.jointSetPoint[j];
        setPoints.push_back(setPoint);
        float best = std::numeric_limits<float>::infinity();
        for (size_t k = setPoints.size(); k-- > 0 && best > 1e-3f;) {
            // Set-points k-1 ... k+2: a turn between two telegrams stays inside.
            const size_t first = k > 0 ? k - 1 : 0, last = std::min(k + 2, setPoints.size() - 1);
            float gap = 0.0f;
            for (size_t j = 0; j < followJoints && j < 7; ++j) {
                float low = setPoints[first][j], high = low;
                for (size_t i = first + 1; i <= last; ++i) {
                    low = std::min(low, setPoints[i][j]);
                    high = std::max(high, setPoints[i][j]);
                }
                const float current = s.jointCurrent[j];
                gap = std::max(gap, current < low ? low - current : current > high ? current - high : 0.0f);
            }
            best = std::min(best, gap);
        }
        if (!(best <= worstGap)) {
            worstGap = best;
            worstTelegram = s.ToReadable();
        }
    }
    void StartFollowing(size_t joints) {
        std::lock_guard<std::mutex> lock(followMutex);
        followJoints = joints;
        setPoints.clear();
        following = true;
    }
    void StopFollowing() {
        std::lock_guard<std::mutex> lock(followMutex);
        following = false;
    }

    ComStatusTelegram Status() {
        ComStatusTelegram s;
        client.LatestStatus(&s);
        return s;
    }

    bool WaitTelegrams(int count) {
        const int target = client.StatusCount() + count;
        const auto end = Clock::now() + std::chrono::milliseconds(kStepMs);
        while (client.StatusCount() < target) {
            if (Clock::now() > end || !client.Connected()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    bool WaitStatus(const std::function<bool(const ComStatusTelegram&)>& condition, int limitMs = kStepMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            ComStatusTelegram s;
            if (client.LatestStatus(&s) && condition(s)) return true;
            if (Clock::now() > end || !client.Connected() || !orvaneAlive.load()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    bool WaitSimulator(const std::function<bool(const std::vector<SimulatorControl::Module>&)>& condition) {
        const auto end = Clock::now() + std::chrono::milliseconds(kStepMs);
        for (;;) {
            if (condition(control.Modules())) return true;
            if (Clock::now() > end || !simAlive.load()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // Waits until every joint of the robot has a module at the simulator that satisfies `condition`.
    bool WaitEveryJointModule(const std::function<bool(const SimulatorControl::Module&)>& condition) {
        return WaitSimulator([&](const std::vector<SimulatorControl::Module>& modules) {
            for (const StagedRobot::Joint& j : robot->joints) {
                const SimulatorControl::Module* m = SimulatorControl::Find(modules, j.busId);
                if (m == nullptr || !condition(*m)) return false;
            }
            return true;
        });
    }

    // One console front-end command, which must succeed.
    void Run(const std::string& line) {
        EXPECT_EQ(script->Run(line), FrontendScript::ok) << line;
        EXPECT_EQ(script->Result(), FrontendScript::ok) << "after " << line;
    }

    // Holds a jog until the condition holds, then releases it and lets the
    // controller take the release.
    bool JogUntil(int axis, float percent, const std::function<bool()>& moved) {
        float jog[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
        jog[axis - 1] = percent;
        client.SetJog(jog);
        const auto end = Clock::now() + std::chrono::milliseconds(kStepMs);
        bool done = false;
        while (!(done = moved()) && Clock::now() < end && client.Connected())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        jog[axis - 1] = 0.0f;
        client.SetJog(jog);
        WaitTelegrams(10);
        return done;
    }

    float SimJoint(const std::vector<SimulatorControl::Module>& modules, size_t joint) {
        const StagedRobot::Joint& j = robot->joints[joint];
        const SimulatorControl::Module* m = SimulatorControl::Find(modules, j.busId);
        return m != nullptr ? StagedRobot::CountsToJoint(j, m->counts) : NAN;
    }

    // The answer to GetProgramInfo: name, command count, current command.
    std::vector<std::string> ProgramInfo() {
        if (!client.Send("CMD GetProgramInfo")) return {};
        FrontendClient::Event event;
        const auto end = Clock::now() + std::chrono::milliseconds(kStepMs);
        while (Clock::now() < end) {
            if (client.NextEvent(&event, 100) && event.kind == FrontendClient::Event::Kind::Answer &&
                event.text.compare(0, 17, "INFO ProgramInfo ") == 0) {
                std::istringstream in(event.text.substr(17));
                std::vector<std::string> words;
                std::string w;
                while (in >> w) words.push_back(w);
                return words;
            }
        }
        return {};
    }

    std::unique_ptr<StagedRobot> robot;
    SimulatorControl control;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> orvane;
    std::thread pump;
    std::atomic<bool> pumping{false};
    // Cleared by the pump when a process has ended: waits give up at once.
    std::atomic<bool> orvaneAlive{true};
    std::atomic<bool> simAlive{true};
    std::mutex followMutex;
    bool following = false;
    size_t followJoints = 0;
    float worstGap = 0.0f;
    std::vector<std::array<float, 7>> setPoints;
    std::string worstTelegram;
    FrontendClient client;
    std::unique_ptr<FrontendScript> script;
};

TEST_P(EndToEnd, DemoScenario) {
    const Kind& kind = GetParam();
    const size_t joints = robot->joints.size();
    const std::string demoFolder = robot->DemoFolder();
    const DemoProgram program(demoFolder + "/" + kMainProgram);

    // Enable: the bus reports no error, motion is allowed, every module runs.
    Run("enable");
    ASSERT_TRUE(WaitStatus([](const ComStatusTelegram& s) { return s.errorText == "NoError" && s.kinState == 0; }))
        << Show(Status());
    ASSERT_TRUE(WaitEveryJointModule([](const SimulatorControl::Module& m) { return m.enabled; }))
        << control.Command("status");

    // Reference every joint (protocol V1 has no referencing).
    if (robot->protocol == "VKTCANV2" && joints > 0) {
        for (size_t j = 0; j < joints; ++j) Run("reference " + std::to_string(j));
        ASSERT_TRUE(WaitEveryJointModule([](const SimulatorControl::Module& m) { return m.referenced; }))
            << control.Command("status");
    }

    // Joint jogs move that joint alone, in the jog's direction, at the
    // controller and at the joint module.
    Run("override 40");
    Run("mode joint");
    for (const Jog& jog : kind.jointJogs) {
        const size_t a = size_t(jog.axis - 1);
        const float direction = jog.percent > 0 ? 1.0f : -1.0f;
        const ComStatusTelegram before = Status();
        const float simBefore = SimJoint(control.Modules(), a);
        ASSERT_TRUE(JogUntil(jog.axis, jog.percent, [&] {
            return direction * (Status().jointSetPoint[a] - before.jointSetPoint[a]) >= jog.distance;
        })) << "joint " << jog.axis << " did not move: " << Show(Status());
        const ComStatusTelegram after = Status();
        EXPECT_EQ(after.kinState, 0) << Show(after);
        for (size_t j = 0; j < joints && j < 7; ++j) {
            if (j != a) {
                EXPECT_NEAR(after.jointSetPoint[j], before.jointSetPoint[j], 0.01) << "joint " << j + 1;
            }
        }
        ASSERT_TRUE(WaitSimulator([&](const std::vector<SimulatorControl::Module>& modules) {
            return direction * (SimJoint(modules, a) - simBefore) >= jog.distance;
        })) << control.Command("status");
    }

    // The Cartesian jog moves the tool along one base axis (or the platform).
    if (kind.platformJog) {
        Run("mode platform");
        auto wheels = [&] {
            std::vector<long long> targets;
            for (const SimulatorControl::Module& m : control.Modules())
                if (m.kind == "platform") targets.push_back(m.target);
            return targets;
        };
        const std::vector<long long> before = wheels();
        ASSERT_EQ(before.size(), 4u) << control.Command("status");
        ASSERT_TRUE(JogUntil(kind.cartesianJog.axis, kind.cartesianJog.percent, [&] {
            const std::vector<long long> now = wheels();
            if (now.size() != before.size()) return false;
            for (size_t i = 0; i < now.size(); ++i)
                if (std::llabs(now[i] - before[i]) < 1000) return false;
            return true;
        })) << control.Command("status");
    } else {
        const Jog& jog = kind.cartesianJog;
        const size_t k = size_t(jog.axis - 1);
        const float direction = jog.percent > 0 ? 1.0f : -1.0f;
        Run("mode base");
        const ComStatusTelegram before = Status();
        ASSERT_TRUE(JogUntil(jog.axis, jog.percent, [&] {
            return direction * (Status().pose[k] - before.pose[k]) >= jog.distance;
        })) << "no Cartesian motion: " << Show(Status());
        const ComStatusTelegram after = Status();
        EXPECT_EQ(after.kinState, 0) << Show(after);
        for (size_t other = 0; other < 3; ++other) {
            if (other != k) {
                EXPECT_NEAR(after.pose[other], before.pose[other], 1.0) << "axis " << other + 1;
            }
        }
    }
    Run("mode joint");

    // Upload the demo program with its sub-programs and load it.
    for (const auto& entry : fs::directory_iterator(demoFolder)) {
        const std::string name = entry.path().filename().string();
        Run("upload " + entry.path().string() + " Programs/" + name);
        EXPECT_EQ(TempDir::Read(robot->Base() + "/Data/Programs/" + name), TempDir::Read(entry.path().string()))
            << name << " arrived changed";
    }
    Run("load " + kMainProgram);
    const std::vector<std::string> info = ProgramInfo();
    ASSERT_GE(info.size(), 2u);
    ASSERT_EQ(info[0], kMainProgram);
    EXPECT_GT(std::stoi(info[1]), 0);

    // The part-present input the program waits for.
    if (robot->ioModule >= 0) {
        EXPECT_NE(control.Command("inputs " + std::to_string(robot->ioModule) + " 0x01").find("ok"),
                  std::string::npos);
    }

    // Run it to the end at full speed.
    Run("override 100");
    StartFollowing(joints);
    ASSERT_TRUE(client.Send("CMD StartProgram"));
    bool done = false;
    std::vector<std::string> messages;
    FrontendClient::Event event;
    const auto end = Clock::now() + std::chrono::milliseconds(kProgramMs);
    while (!done && Clock::now() < end && client.Connected()) {
        if (!client.NextEvent(&event, 100) || event.kind != FrontendClient::Event::Kind::Message) continue;
        messages.push_back(event.text);
        EXPECT_FALSE(FrontendScript::IsErrorMessage(event.text)) << event.text;
        done = event.text.find("Program done") != std::string::npos;
    }
    ASSERT_TRUE(done) << "no \"Program done\"; messages: " << ::testing::PrintToString(messages) << "\n"
                      << Show(Status());
    StopFollowing();

    // The joints followed their set-points all the way (within the bus's
    // resolution), however late the answers came.
    {
        std::lock_guard<std::mutex> lock(followMutex);
        EXPECT_LT(worstGap, 0.5f) << "measured joints left their set-points: " << worstTelegram;
    }

    // Final joints at the program's last target, at the controller and at the modules.
    if (program.hasFinalJoints) {
        auto atTarget = [&](const float* values) {
            for (size_t j = 0; j < joints && j < 7; ++j)
                if (std::fabs(values[j] - program.finalJoints[j]) > 0.1f) return false;
            return true;
        };
        ASSERT_TRUE(WaitStatus([&](const ComStatusTelegram& s) {
            return atTarget(s.jointSetPoint) && atTarget(s.jointCurrent);
        })) << Show(Status());
        const ComStatusTelegram s = Status();
        for (size_t j = 0; j < joints && j < 7; ++j) {
            EXPECT_NEAR(s.jointCurrent[j], program.finalJoints[j], 0.1) << "measured joint " << j + 1;
        }
        const std::vector<SimulatorControl::Module> modules = control.Modules();
        for (size_t j = 0; j < joints; ++j) {
            EXPECT_NEAR(SimJoint(modules, j), program.finalJoints[j], 0.1) << "joint module " << j + 1;
        }
    }

    // Outputs as the program left them: in the status telegram and at the
    // module that carries them (the first joint module for outputs 1 to 8,
    // the first I/O module for outputs 21 to 27).
    unsigned long long expectedMask = 0;
    int jointByte = 0, ioByte = 0;
    for (const auto& [index, on] : program.outputs) {
        if (!on) continue;
        expectedMask |= 1ull << index;
        if (index < 8) jointByte |= 1 << index;
        if (index >= 20 && index < 27) ioByte |= 1 << (index - 20);
    }
    ASSERT_TRUE(WaitStatus([&](const ComStatusTelegram& s) { return s.digitalOut == expectedMask; }))
        << "expected DOUT " << expectedMask << ": " << Show(Status());
    const int outputModule = ioByte != 0 ? robot->ioModule : (joints > 0 ? robot->joints[0].busId : -1);
    const int expectedByte = ioByte != 0 ? ioByte : jointByte;
    ASSERT_GE(outputModule, 0);
    EXPECT_TRUE(WaitSimulator([&](const std::vector<SimulatorControl::Module>& modules) {
        const SimulatorControl::Module* m = SimulatorControl::Find(modules, outputModule);
        return m != nullptr && m->outputs == expectedByte;
    })) << "expected outputs " << expectedByte << " at module " << outputModule << "\n" << control.Command("status");

    // The gripper reaches the program's last opening.
    if (robot->hasGripper && program.hasGripper) {
        const long long expected = robot->GripperCounts(program.finalGripper);
        EXPECT_TRUE(WaitSimulator([&](const std::vector<SimulatorControl::Module>& modules) {
            const SimulatorControl::Module* m = SimulatorControl::Find(modules, robot->gripper.busId);
            return m != nullptr && std::llabs(m->counts - expected) <= 1;
        })) << "gripper counts expected " << expected << "\n" << control.Command("status");
    }

    // Orderly end through the front-end.
    Run("check");
    Run("shutdown 99");
    client.Close();
    StopPump();
    EXPECT_EQ(orvane->Wait(kStepMs), 0) << orvane->Output();

    // Nothing unexpected in the controller's output once the motors were enabled.
    const std::string output = orvane->Output();
    size_t from = output.find("RobotMaster:  Enabling Motors");
    ASSERT_NE(from, std::string::npos);
    from = output.find("Status: NoError, KinOK", from);
    ASSERT_NE(from, std::string::npos) << "no status line after enabling";
    std::istringstream lines(output.substr(from));
    std::string line;
    static const char* const forbidden[] = {"MotionNotAllowed", "EXCEPTION", "CATCH",     "Kinematic Error",
                                            "InvKin",           "ERROR",     "Error in ", "Sanitizer",
                                            "runtime error"};
    while (std::getline(lines, line)) {
        // A late robot cycle on a loaded machine is reported, and is no fault of the scenario.
        if (line.find("ERROR RobotMaster cycletime in ms") != std::string::npos) continue;
        for (const char* text : forbidden) EXPECT_EQ(line.find(text), std::string::npos) << line;
        const size_t status = line.find("Status: ");
        if (line.find("Pos: ") != std::string::npos && status != std::string::npos) {
            EXPECT_EQ(line.substr(status), "Status: NoError, KinOK") << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EndToEnd, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

}  // namespace
