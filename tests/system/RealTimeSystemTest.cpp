#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackPorts.h"
#include "support/ExampleBase.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string bin = ORVANE_BIN_DIR;

// Scheduling policy and real-time priority of every thread of a process.
std::set<std::pair<int, int>> ThreadScheduling(pid_t pid) {
    std::set<std::pair<int, int>> found;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> f{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
        // Fields from the state (3rd) on: rt_priority is the 40th, policy the 41st.
        if (f.size() >= 39) found.insert({std::stoi(f[38]), std::stoi(f[37])});
    }
    return found;
}

struct ControllerRun {
    std::string output;
    std::set<std::pair<int, int>> scheduling;  // (policy, priority) of the controller's threads
    int exitStatus = -1;
};

// The gantry sample against the joint simulator; with a program, it is run
// to its end from the console. Ends the controller with SIGTERM.
ControllerRun RunController(const std::vector<std::string>& env, bool program, bool withoutSysNice = false) {
    const ExampleBase example("CartesianV2");
    const std::string& base = example.base;
    const std::string project = base + "/Data/Projects/CartesianV2.xml";
    std::string text = TempDir::Read(project);
    const std::string from = "File=\"Square.xml\" Override=\"40.0\"";
    text.replace(text.find(from), from.size(), "File=\"RealTime.xml\" Override=\"100.0\"");
    std::ofstream(project, std::ios::trunc) << text;
    std::ofstream(base + "/Data/Programs/RealTime.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Program>\n"
           "<Joint a1=\"50\" a2=\"40\" a3=\"20\" velPercent=\"100\" smooth=\"0\"/>\n"
           "<Output Channel=\"DOut21\" State=\"true\"/>\n</Program>\n";

    ControllerRun run;
    const int port = LoopbackPorts::FreeUdpPair();
    if (port <= 0) return run;
    ChildProcess sim(bin + "/orvane-jointsim", {"--base", base, "--udp", std::to_string(port)});
    if (!sim.WaitForOutput("ready", 20000)) return run;
    std::vector<std::string> environment = env;
    environment.push_back("ORVANE_CAN=udp:" + std::to_string(port));
    // Dropped from the bounding set, so the controller that bash then runs has it neither.
    const std::string controller = bin + "/orvane";
    ChildProcess orvane(withoutSysNice ? "capsh" : controller,
                        withoutSysNice ? std::vector<std::string>{"--drop=cap_sys_nice", "--", "-c", "exec " + controller}
                                       : std::vector<std::string>{},
                        base, environment);
    // The main loop connects the bus after start-up; the receive thread takes its scheduling before this line.
    if (orvane.WaitForOutput("Starting SocketCAN ReadLoop", 30000)) {
        run.scheduling = ThreadScheduling(orvane.Pid());
        if (program) {
            orvane.Write("2\n");  // reset and enable
            if (orvane.WaitForOutput("Status: NoError, KinOK", 20000)) {
                orvane.Write("5\n");  // start
                orvane.WaitForOutput("IPO: Program done", 30000);
            }
        }
    }
    orvane.Signal(SIGTERM);
    run.exitStatus = orvane.Wait(20000);
    run.output = orvane.Output();
    return run;
}

std::string Describe(const std::set<std::pair<int, int>>& scheduling) {
    std::string text;
    for (const auto& s : scheduling) text += "policy " + std::to_string(s.first) + " priority " + std::to_string(s.second) + "; ";
    return text;
}

bool Has(const ControllerRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

constexpr int fifo = SCHED_FIFO;

}  // namespace

// What the controller asks for, and what its log says it got: the cycle
// thread SCHED_FIFO 80 and the CAN receive thread 79 where permitted (root,
// or CAP_SYS_NICE / RLIMIT_RTPRIO), otherwise the line saying why not; with
// ORVANE_RT_PRIORITY=0 normal scheduling; settings that are not numbers in
// range are named and replaced by the defaults.
TEST(RealTimeSystem, StartUpLogNamesTheSchedulingItGot) {
    const int cpus = int(sysconf(_SC_NPROCESSORS_CONF));
    {
        ControllerRun run = RunController({"ORVANE_RT_PRIORITY=80", "ORVANE_CPU=" + std::to_string(cpus - 1)}, false);
        EXPECT_EQ(run.exitStatus, 0) << run.output;
        const std::string pinned = ", robot cycle thread on CPU " + std::to_string(cpus - 1);
        if (Has(run, "Real-time: robot cycle SCHED_FIFO priority 80, CAN receive SCHED_FIFO priority 79" + pinned)) {
            EXPECT_TRUE(run.scheduling.count({fifo, 80}) == 1 && run.scheduling.count({fifo, 79}) == 1)
                << "threads with SCHED_FIFO priorities 80 and 79 expected; " << Describe(run.scheduling);
            EXPECT_TRUE(std::regex_search(run.output, std::regex("RobotMainLoop is executing at priority +80\n")));
            EXPECT_TRUE(Has(run, "RobotMainLoop scheduling: SCHED_FIFO priority 80\n")) << run.output;
        } else {
            EXPECT_TRUE(Has(run, "Real-time: could not get SCHED_FIFO priority 80 (")) << run.output;
            EXPECT_TRUE(Has(run, "RobotMainLoop scheduling: normal scheduling (SCHED_OTHER)\n")) << run.output;
        }
        EXPECT_EQ(run.scheduling.size(), size_t(run.scheduling.count({fifo, 80}) + run.scheduling.count({fifo, 79}) + 1))
            << "every other thread keeps normal scheduling";
    }
    {
        ControllerRun run = RunController({"ORVANE_RT_PRIORITY=0", "ORVANE_CPU=nine"}, false);
        EXPECT_EQ(run.exitStatus, 0) << run.output;
        EXPECT_TRUE(Has(run, "Real-time: ORVANE_CPU=\"nine\" is not a number 0 ... " + std::to_string(cpus - 1) +
                                 "; the robot cycle thread is not pinned\n"))
            << run.output;
        EXPECT_TRUE(Has(run, "Real-time: off (ORVANE_RT_PRIORITY=0): normal scheduling (SCHED_OTHER), memory not "
                             "locked\n"))
            << run.output;
        EXPECT_TRUE(std::regex_search(run.output, std::regex("RobotMainLoop is executing at priority +0\n")));
        EXPECT_TRUE(Has(run, "RobotMainLoop scheduling: normal scheduling (SCHED_OTHER)\n")) << run.output;
        EXPECT_EQ(run.scheduling, (std::set<std::pair<int, int>>{{SCHED_OTHER, 0}}));
    }
}

// Without CAP_SYS_NICE (and no real-time allowance) the controller says what
// it could not get and why, and runs a program to its end all the same.
TEST(RealTimeSystem, WithoutCapSysNiceItSaysSoAndRunsAProgramToItsEnd) {
    if (std::getenv("ORVANE_TEST_EMULATOR")) GTEST_SKIP() << "capsh is a native program";
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop CAP_SYS_NICE with capsh";
    rlimit limit{};
    getrlimit(RLIMIT_RTPRIO, &limit);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 80) GTEST_SKIP() << "RLIMIT_RTPRIO permits priority 80";

    ControllerRun run = RunController({"ORVANE_RT_PRIORITY=urgent"}, true, true);
    EXPECT_TRUE(Has(run, "Real-time: ORVANE_RT_PRIORITY=\"urgent\" is not a number 0 ... 99; using priority 80\n"))
        << run.output;
    EXPECT_TRUE(std::regex_search(run.output,
                                  std::regex("Real-time: could not get SCHED_FIFO priority 80 \\(Operation not "
                                             "permitted; no CAP_SYS_NICE, RLIMIT_RTPRIO [0-9]+\\): the robot cycle "
                                             "and the CAN receive thread run with normal scheduling \\(SCHED_OTHER\\);")))
        << run.output;
    EXPECT_TRUE(Has(run, "RobotMainLoop scheduling: normal scheduling (SCHED_OTHER)\n")) << run.output;
    EXPECT_EQ(run.scheduling, (std::set<std::pair<int, int>>{{SCHED_OTHER, 0}}));
    EXPECT_TRUE(Has(run, "IPO: Program done")) << run.output;
    EXPECT_EQ(run.exitStatus, 0) << run.output;
}
