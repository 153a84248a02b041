// The console front-end against a front-end server driven by a stand-in main loop.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "ComServer.h"
#include "support/TempDir.h"

namespace {

class InfoAccess : public ComProgramAccess {
public:
    int LoadProgram(const std::string&) override { return 0; }
    int DeleteProgramFile(const std::string&) override { return 0; }
    void GetProgramInformation(std::string* name, int* count, int*) override {
        *name = "t.xml";
        *count = 2;
    }
    int GetFilename(int, std::string*) override { return 0; }
    void AddCommandJoint(int, int, float*, float) override {}
    void AddCommandGripper(int, float*) override {}
    void AddCommandWait(int, long) override {}
};

// Runs the tool; returns its exit status, output in *output.
std::string ToolPath() { return std::string(ORVANE_BIN_DIR) + "/orvane-frontend"; }

int RunTool(const std::string& arguments, std::string* output) {
    std::string command = ToolPath() + " " + arguments + " 2>&1";
    // A cross-built tool runs through the same emulator as the tests.
    if (const char* emulator = std::getenv("ORVANE_TEST_EMULATOR")) command = std::string(emulator) + " " + command;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) output->append(buf, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OrvaneFrontend : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(ToolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "orvane-frontend not built";
        dir.Write("Programs/.keep", "");
        local = dir.Write("local.xml", "<Program>\n  <Wait Time=\"10\" />\n</Program>\n");
        server.SetPort(0);
        server.SetBindAddress("127.0.0.1");
        server.SetDataDirectory(dir.Path() + "/");
        server.SetProgramAccess(&access);
        server.StartServer();
        for (int i = 0; i < 1000 && server.GetBoundPort() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_NE(server.GetBoundPort(), 0);
        loop = std::thread([this] { MainLoop(); });
    }
    void TearDown() override {
        stop.store(true);
        if (loop.joinable()) loop.join();
    }
    // Stand-in for the controller's main loop: one pass every 10 ms.
    void MainLoop() {
        DataTypes::RobotState state;
        state.errorText = "NoError";
        while (!stop.load()) {
            server.SetCurrentPos(state);
            server.PublishData();
            server.SendDisplayMessage();
            float jog[9];
            server.GetJogValues(jog);
            int code = 0, arg = 0;
            float num = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (jog[0] > maxJog) maxJog = jog[0];
                if (server.TakePendingCommand(&code, &arg, &num)) codes.insert(code * 1000 + arg);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    TempDir dir;
    std::string local;
    InfoAccess access;
    ComServer server;
    std::thread loop;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::set<int> codes;
    float maxJog = 0.0f;
};

}  // namespace

TEST_F(OrvaneFrontend, ScriptRunsCommandsAndExitsZero) {
    std::string out;
    int status = RunTool("--script --status-every 0 --port " +
                             std::to_string(server.GetBoundPort()) +
                             " enable 'mode base' 'jog 1 50 0.3' 'upload " + local +
                             " Programs/t.xml' info check 'shutdown 1'",
                         &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("ANSWER INFO ProgramInfo t.xml 2 0"), std::string::npos) << out;
    EXPECT_NE(out.find("MESSAGE Programs/t.xml uploaded, 3 lines"), std::string::npos) << out;
    EXPECT_EQ(TempDir::Read(dir.Path() + "/Programs/t.xml"),
              "<Program>\n  <Wait Time=\"10\" />\n</Program>\n");
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(codes, (std::set<int>{11000, 22000, 99001}));
    EXPECT_FLOAT_EQ(maxJog, 50.0f);
}

TEST_F(OrvaneFrontend, ScriptStopsAtATimedOutStep) {
    std::string port = std::to_string(server.GetBoundPort());
    std::string out;
    EXPECT_EQ(RunTool("--script --status-every 0 --timeout 0.5 --port " + port +
                          " 'wait-message never comes' enable",
                      &out),
              2)
        << out;
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(codes.count(11000), 0u);  // the script stopped at the failed step
}

TEST_F(OrvaneFrontend, ScriptFailsWhenTheControllerReportsAnError) {
    std::string port = std::to_string(server.GetBoundPort());
    std::string out;
    // The refusal reaches the tool as an operator message (waited for, not timed).
    EXPECT_EQ(RunTool("--script --status-every 0 --port " + port + " 'load ../x.xml' 'wait-message File name refused'",
                      &out),
              1)
        << out;
    EXPECT_NE(out.find("MESSAGE File name refused: ../x.xml"), std::string::npos) << out;
}

TEST_F(OrvaneFrontend, MessageArrivingDuringAnotherStepIsStillFoundByAWait) {
    std::string port = std::to_string(server.GetBoundPort());
    std::string out;
    // The refusal arrives while 'wait 1' runs; the later wait must still see
    // it, and a second wait for it must not (it was taken). The time-out is
    // generous for a loaded machine: only the second wait uses it up.
    RunTool("--status-every 0 --timeout 5 --port " + port +
                " 'load ../x.xml' 'wait 1' 'wait-message File name refused' "
                "'wait-message File name refused'",
            &out);
    std::size_t first = out.find("ERROR: timed out waiting for message File name refused");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("ERROR:"), first) << out;  // the first wait succeeded
    EXPECT_EQ(out.find("ERROR:", first + 1), std::string::npos) << out;
}

TEST(OrvaneFrontendConnection, ExitsNonZeroWithoutController) {
    if (::access(ToolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "orvane-frontend not built";
    // A bound but not listening socket: connections to its port are refused.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    socklen_t size = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    std::string out;
    EXPECT_EQ(RunTool("--script --connect-timeout 0.3 --port " + std::to_string(ntohs(a.sin_port)) +
                          " enable",
                      &out),
              3)
        << out;
    EXPECT_NE(out.find("cannot connect"), std::string::npos) << out;
    ::close(fd);
}
