// The front-end session of docs/FRONTEND-PROTOCOL.md (docs/examples/FrontendSession.txt),
// replayed message by message against the controller and the joint simulator.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ControllerRun.h"
#include "support/ExampleBase.h"
#include "support/LoopbackPorts.h"
#include "support/SimulatorControl.h"
#include "support/TempDir.h"
#include "support/Words.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

bool IsNumber(const std::string& token) {
    char* end = nullptr;
    std::strtod(token.c_str(), &end);
    return !token.empty() && end == token.c_str() + token.size();
}

// The counter (second token) is the sender's own. In a status telegram only
// the words and the kinematic state must match: its other numbers are the
// robot's values of the moment.
bool Matches(const std::string& expected, const std::string& received) {
    const std::vector<std::string> e = Words(expected), r = Words(received);
    if (e.size() != r.size() || e.size() < 3) return false;
    const bool status = e[2] == "STATUS";
    for (size_t i = 0; i < e.size(); ++i) {
        if (i == 1) continue;
        const bool kinState = i > 0 && e[i - 1] == "KINSTATE";
        if (status && !kinState && IsNumber(e[i]) && IsNumber(r[i])) continue;
        if (e[i] != r[i]) return false;
    }
    return true;
}

// One front-end connection: sends whole lines, repeats the last keep-alive
// every 50 ms once one was sent, and splits what arrives into messages.
class Session {
public:
    explicit Session(int port) {
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < end) {
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
            ::close(fd);
            fd = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (fd >= 0) keepAlive = std::thread([this] { Repeat(); });
    }
    ~Session() {
        stop = true;
        if (keepAlive.joinable()) keepAlive.join();
        if (fd >= 0) ::close(fd);
    }
    bool Connected() const { return fd >= 0; }
    void Send(const std::string& message) {
        std::lock_guard<std::mutex> lock(sendMutex);
        if (Words(message).size() > 2 && Words(message)[2] == "ALIVEJOG") lastKeepAlive = message;
        const std::string line = message + "\n";
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    }
    // The next message from the controller, "" on time-out; `closed` when the
    // controller closed the connection.
    std::string Next(int timeoutMs, bool* closed) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            const size_t stop = buffer.find("NEXEND");
            if (stop != std::string::npos) {
                const size_t start = buffer.find("NEXSTART");
                std::string message = buffer.substr(start == std::string::npos ? 0 : start,
                                                     stop + 6 - (start == std::string::npos ? 0 : start));
                buffer.erase(0, stop + 6);
                return message;
            }
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0) return "";
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) continue;
            char chunk[2048];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                *closed = true;
                return "";
            }
            buffer.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    void Repeat() {
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::lock_guard<std::mutex> lock(sendMutex);
            if (!lastKeepAlive.empty()) {
                const std::string line = lastKeepAlive + "\n";
                ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
            }
        }
    }

    int fd = -1;
    std::string buffer;
    std::mutex sendMutex;
    std::string lastKeepAlive;
    std::atomic<bool> stop{false};
    std::thread keepAlive;
};

}  // namespace

TEST(DocsSessionSystem, TheDocumentedSessionRunsAsWritten) {
    const std::string docs = std::string(ORVANE_SOURCE_DIR) + "/docs/examples/";
    std::vector<std::string> transcript;
    {
        std::ifstream in(docs + "FrontendSession.txt");
        for (std::string line; std::getline(in, line);) transcript.push_back(line);
    }
    ASSERT_GT(transcript.size(), 20u);

    // The program uploaded in the session is the documented one, line by line.
    std::vector<std::string> uploaded;
    for (const std::string& line : transcript) {
        const std::string marker = " CMD UploadFileLine ";
        const size_t at = line.find(marker);
        if (line.rfind("> ", 0) == 0 && at != std::string::npos) {
            uploaded.push_back(line.substr(at + marker.size(), line.size() - 7 - at - marker.size()));
        }
    }
    std::vector<std::string> program;
    {
        std::ifstream in(docs + "Data/Programs/Hello.xml");
        for (std::string line; std::getline(in, line);) program.push_back(line);
    }
    EXPECT_EQ(uploaded, program);

    const ExampleBase example("SixAxisGripperV2");
    const std::string& base = example.base;
    ControllerRun run;
    ASSERT_NO_FATAL_FAILURE(run.Start(base));
    ChildProcess& orvane = *run.controller;

    Session session(run.port);
    ASSERT_TRUE(session.Connected());
    bool closed = false;
    std::string seen;  // what arrived while waiting, for the failure report
    for (const std::string& line : transcript) {
        if (line.rfind("# wait ", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(
                static_cast<int>(std::stod(line.substr(7)) * 1000)));
        } else if (line.rfind("> ", 0) == 0) {
            session.Send(line.substr(2));
        } else if (line.rfind("< ", 0) == 0) {
            const std::string expected = line.substr(2);
            bool found = false;
            const auto end = Clock::now() + std::chrono::seconds(60);
            while (!found && !closed && Clock::now() < end) {
                const std::string message = session.Next(1000, &closed);
                found = !message.empty() && Matches(expected, message);
                if (!message.empty() && Words(message).size() > 2 && Words(message)[2] != "STATUS") {
                    seen += message + "\n";
                }
            }
            ASSERT_TRUE(found) << "expected: " << expected << "\nreceived:\n"
                               << seen << "\n---- controller:\n" << orvane.TakeOutput();
        }
    }
    // After the shutdown request the controller closes the connection and ends.
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (!closed && Clock::now() < end) session.Next(1000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(orvane.Wait(30000), 0) << orvane.Output();
    const std::string& out = orvane.Output();
    EXPECT_EQ(out.find("NEX-Server: ERROR"), std::string::npos) << out;
    EXPECT_NE(out.find("DIO: channel 20 to 1"), std::string::npos) << out;
    EXPECT_NE(out.find("NEX-Server: CMD-DOUT to FALSE: channel  20"), std::string::npos) << out;
    EXPECT_EQ(TempDir::Read(base + "/Data/Programs/Hello.xml"),
              TempDir::Read(docs + "Data/Programs/Hello.xml"));
}
