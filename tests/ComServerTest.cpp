#include "ComServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ComTelegram.h"
#include "LogSingleton.h"
#include "support/LogTail.h"
#include "support/TempDir.h"

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// A bare front-end on loopback.
class Client {
public:
    ~Client() { Close(); }
    bool Connect(int port) {
        Close();
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    void Send(const std::string& text) {
        ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(text.size()));
    }
    // One line without its line feed; false on time-out or end of stream.
    bool ReadLine(std::string* line, int timeoutMs = 20000) {
        for (;;) {
            std::size_t nl = pending.find('\n');
            if (nl != std::string::npos) {
                *line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                return true;
            }
            if (Fill(timeoutMs) <= 0) return false;
        }
    }
    // True once the server has closed the connection.
    bool WaitClosed(int timeoutMs = 10000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            int n = Fill(100);
            if (n == 0 || (n < 0 && n != -2)) return true;
            pending.clear();
        }
        return false;
    }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        pending.clear();
    }

private:
    // >0 bytes read, 0 end of stream, -1 error, -2 time-out.
    int Fill(int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return -2;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n > 0) pending.append(buf, static_cast<std::size_t>(n));
        return static_cast<int>(n);
    }
    int fd = -1;
    std::string pending;
};

class RecordingAccess : public ComProgramAccess {
public:
    int LoadProgram(const std::string& name) override { return Record("load " + name, 0); }
    int DeleteProgramFile(const std::string& name) override { return Record("delete " + name, 0); }
    void GetProgramInformation(std::string* name, int* count, int*) override {
        Record("info", 0);
        *name = "demo.xml";
        *count = 12;
    }
    int GetFilename(int index, std::string* name) override {
        Record("filename " + std::to_string(index), 0);
        if (index == 1) *name = "b.xml";
        return 3;
    }
    void AddCommandJoint(int nr, int count, float* joints, float velocity) override {
        std::ostringstream s;
        s << "joint " << nr << " " << count << " " << joints[0] << " " << joints[8] << " "
          << velocity;
        Record(s.str(), 0);
    }
    void AddCommandGripper(int nr, float* values) override {
        Record("gripper " + std::to_string(nr) + " " + std::to_string(int(values[0])), 0);
    }
    void AddCommandWait(int nr, long ms) override {
        Record("wait " + std::to_string(nr) + " " + std::to_string(ms), 0);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

private:
    int Record(const std::string& call, int result) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
        return result;
    }
    std::mutex mutex;
    std::vector<std::string> calls;
};

// A server on a free loopback port with a recording interpreter.
class ComServerLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        server.SetPort(0);
        server.SetBindAddress("127.0.0.1");
        server.SetDataDirectory(dir.Path() + "/");
        server.SetProgramAccess(&access);
        server.StartServer();
        ASSERT_TRUE(WaitFor([&] { return server.GetBoundPort() != 0; }));
        port = server.GetBoundPort();
    }
    void ConnectClient() {
        ASSERT_TRUE(WaitFor([&] { return client.Connect(port) && WaitFor([&] {
                                             return server.IsConnected();
                                         }, 10000); }, 30000));
        // The greeting goes out with the first display message pass.
        server.SendDisplayMessage();
        std::string line;
        ASSERT_TRUE(client.ReadLine(&line));
        EXPECT_NE(line.find(" MESSAGE Orvane Version "), std::string::npos) << line;
    }
    std::string Answer() {
        std::string line;
        EXPECT_TRUE(client.ReadLine(&line));
        return line;
    }
    // The next line without "NEXSTART <counter>".
    std::string AnswerBody() {
        std::string line = Answer();
        std::size_t second = line.find(' ', 9);
        return second == std::string::npos ? line : line.substr(second);
    }

    TempDir dir;
    RecordingAccess access;
    ComServer server;  // destroyed before access and dir
    Client client;
    int port = 0;
};

int CounterOf(const std::string& line) {
    std::istringstream in(line);
    std::string start;
    int counter = -1;
    in >> start >> counter;
    return counter;
}

}  // namespace

TEST(ComServerPort, EnvironmentOverridesTheDefaultPort) {
    std::string log;
    EXPECT_EQ(ComServer::PortFromEnvironment(nullptr, &log), 3920);
    EXPECT_EQ(ComServer::PortFromEnvironment("4100", &log), 4100);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(ComServer::PortFromEnvironment("70000", &log), 3920);
    EXPECT_EQ(log, "NEX-Server: ERROR invalid ORVANE_FRONTEND_PORT \"70000\", using 3920");
    EXPECT_EQ(ComServer::PortFromEnvironment("39x", &log), 3920);
    EXPECT_EQ(ComServer::PortFromEnvironment("0", &log), 3920);
}

TEST_F(ComServerLoopback, GarbageIsSkippedAndBackToBackMessagesAreAllHandled) {
    ConnectClient();
    client.Send("garbage NEXSTAR\nNEXSTART 1 PROG 2 WAIT 100 NEXENDNEXSTART 2 PROG 3 GRIPPER 40 0 0 "
                "NEXEND NEXSTART 3 PROG 4 JOINT 1 2 3 4 5 6 EXT 7 8 9 VEL 30 NEXEND");
    ASSERT_TRUE(WaitFor([&] { return access.Calls().size() == 3; }));
    EXPECT_EQ(access.Calls(),
              (std::vector<std::string>{"wait 2 100", "gripper 3 40", "joint 4 9 1 9 30"}));

    client.Send("NEXSTART 4 CMD ReferenceSingleJoint 0x3 NEXEND");
    int code = 0, arg = 0;
    float num = 0;
    ASSERT_TRUE(WaitFor([&] { return server.TakePendingCommand(&code, &arg, &num); }));
    EXPECT_EQ(code, 15);
    EXPECT_EQ(arg, 3);
    EXPECT_FALSE(server.TakePendingCommand(&code, &arg, &num));  // taken once
    EXPECT_EQ(code, 0);
}

TEST_F(ComServerLoopback, AnswersAndUploadOverTheWire) {
    ConnectClient();
    client.Send("NEXSTART 1 CMD GetProgramInfo NEXEND");
    EXPECT_EQ(AnswerBody(), " INFO ProgramInfo demo.xml 12 0 NEXEND");
    client.Send("NEXSTART 2 CMD GetProgramName 1 NEXEND");
    EXPECT_EQ(AnswerBody(), " INFO ProgramName b.xml 1 3 NEXEND");

    client.Send("NEXSTART 3 CMD UploadFileInit up.xml 2 NEXEND");
    client.Send("NEXSTART 4 CMD UploadFileLine <Program> NEXEND");
    client.Send("NEXSTART 5 CMD UploadFileLine  <Wait Time=\"5\" />  NEXEND");
    client.Send("NEXSTART 6 CMD UploadFileFinish NEXEND");
    client.Send("NEXSTART 7 CMD LoadProgram up.xml NEXEND");
    ASSERT_TRUE(WaitFor([&] { return access.Calls().size() == 3; }));
    EXPECT_EQ(access.Calls().back(), "load up.xml");
    EXPECT_EQ(TempDir::Read(dir.Path() + "/up.xml"), "<Program>\n <Wait Time=\"5\" /> \n");
    server.SendDisplayMessage();
    std::string line = Answer();
    EXPECT_NE(line.find(" MESSAGE up.xml uploaded, 2 lines NEXEND"), std::string::npos) << line;

    client.Send("NEXSTART 8 CMD UploadFileInit ../escape.xml 2 NEXEND");
    client.Send("NEXSTART 9 CMD DeleteProgramFromFileSystem ok.xml NEXEND");
    ASSERT_TRUE(WaitFor([&] { return access.Calls().size() == 4; }));
    server.SendDisplayMessage();
    line = Answer();
    EXPECT_NE(line.find(" MESSAGE File name refused: ../escape.xml NEXEND"), std::string::npos);
}

TEST_F(ComServerLoopback, StatusTelegramAndCounterWrapAcrossMessageKinds) {
    ConnectClient();  // the greeting used counter 0
    DataTypes::RobotState state;
    state.digitalIn[0] = true;
    state.digitalIn[63] = true;
    server.SetCurrentPos(state);
    server.PublishData();
    std::string line;
    ASSERT_TRUE(client.ReadLine(&line));
    EXPECT_EQ(line + "\n", ComTelegram::Status(1, state));
    EXPECT_NE(line.find(" DIN 9223372036854775809 DOUT 0 "), std::string::npos);

    int expected = 2;
    for (int i = 0; i < 1000; ++i) {
        switch (i % 3) {
            case 0: server.PublishData(); break;
            case 1: server.SendAnswer("INFO x"); break;
            default:
                LogSingleton::instance()->DisplaySetMessage("m" + std::to_string(i));
                server.SendDisplayMessage();
                server.SendDisplayMessage();  // nothing new: no message, no count
                break;
        }
        ASSERT_TRUE(client.ReadLine(&line));
        ASSERT_EQ(CounterOf(line), expected) << line;
        expected = (expected + 1) % 1000;
    }
    EXPECT_EQ(server.GetCounter(), expected);
}

TEST_F(ComServerLoopback, WatchdogDropsASilentClientOnlyAfterAKeepAlive) {
    ConnectClient();
    float jog[9];
    for (int i = 0; i < 300; ++i) server.GetJogValues(jog);  // never sent a keep-alive
    EXPECT_TRUE(server.IsConnected());
    EXPECT_EQ(server.GetWatchdog(), -1);

    client.Send("NEXSTART 1 ALIVEJOG 10 0 0 0 0 0 0 0 -20 NEXEND");
    ASSERT_TRUE(WaitFor([&] { return server.GetWatchdog() == 100; }));
    for (int i = 0; i < 99; ++i) server.GetJogValues(jog);
    EXPECT_TRUE(server.IsConnected());
    EXPECT_FLOAT_EQ(jog[0], 10.0f);
    EXPECT_FLOAT_EQ(jog[8], -20.0f);
    server.GetJogValues(jog);  // the 100th pass without a keep-alive
    EXPECT_FALSE(server.IsConnected());
    EXPECT_EQ(server.GetWatchdog(), -1);
    for (float v : jog) EXPECT_EQ(v, 0.0f);
    EXPECT_TRUE(client.WaitClosed());

    // The server restarts and takes the next client.
    ConnectClient();
}

// Keep-alives whose numbers do not parse stop the jog but still re-arm the
// watchdog; their error is logged once per connection.
TEST_F(ComServerLoopback, UnparsableKeepAlivesStopTheJogAndFeedTheWatchdog) {
    const std::string error = "NEX-Server: ERROR invalid keep-alive jog values, jog stopped";
    LogTail log;
    ConnectClient();
    float jog[9];
    client.Send("NEXSTART 1 ALIVEJOG 10 0 0 0 0 0 0 0 0 NEXEND");
    ASSERT_TRUE(WaitFor([&] { return server.GetWatchdog() == 100; }));
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 99; ++i) server.GetJogValues(jog);
        ASSERT_EQ(server.GetWatchdog(), 1);
        client.Send("NEXSTART 2 ALIVEJOG 10,5 0 0 0 0 0 0 0 0 NEXEND");
        ASSERT_TRUE(WaitFor([&] { return server.GetWatchdog() == 100; }));
        server.Channel().GetJogValues(jog);
        EXPECT_TRUE(server.IsConnected());
        EXPECT_EQ(jog[0], 0.0f);
    }
    EXPECT_EQ(log.Count(error), 1);

    for (int i = 0; i < 100; ++i) server.GetJogValues(jog);  // silent: dropped
    EXPECT_FALSE(server.IsConnected());
    ConnectClient();
    client.Send("NEXSTART 3 ALIVEJOG 1,5 0 0 0 0 0 0 0 0 NEXEND");
    ASSERT_TRUE(WaitFor([&] { return log.Count(error) == 2; }));
}

// A client that stops reading while the telegrams keep coming: no send waits
// for it, and it is dropped after a few seconds' worth of telegrams, not after
// the megabytes the kernel would otherwise queue for it.
TEST_F(ComServerLoopback, ClientThatStopsReadingIsDroppedSoon) {
    ConnectClient();
    DataTypes::RobotState state;
    server.SetCurrentPos(state);
    const std::size_t telegram = ComTelegram::Status(0, state).size();
    int sent = 0;
    while (server.IsConnected() && sent < 20000) {
        server.PublishData();
        ++sent;
    }
    EXPECT_FALSE(server.IsConnected());
    EXPECT_LT(sent * telegram, 1024u * 1024u) << sent << " telegrams of " << telegram << " bytes";
    EXPECT_TRUE(client.WaitClosed(20000));
    ConnectClient();
}

TEST_F(ComServerLoopback, ClientClosingMidMessageRestartsTheServer) {
    ConnectClient();
    client.Send("NEXSTART 1 CMD Ena");
    client.Close();
    ASSERT_TRUE(WaitFor([&] { return !server.IsConnected(); }));
    ConnectClient();
    client.Send("NEXSTART 2 CMD Enable NEXEND");
    int code = 0;
    ASSERT_TRUE(WaitFor([&] { return server.TakePendingCommand(&code, nullptr, nullptr); }));
    EXPECT_EQ(code, 11);
}

TEST_F(ComServerLoopback, FramesTooLongAreRejectedOrCloseTheConnection) {
    ConnectClient();
    // Over the parser's 255 characters: dropped, connection kept.
    client.Send("NEXSTART 1 CMD Enable " + std::string(400, 'x') + " NEXEND");
    client.Send("NEXSTART 2 PROG 1 WAIT 5 NEXEND");
    ASSERT_TRUE(WaitFor([&] { return access.Calls().size() == 1; }));
    int code = 0;
    EXPECT_FALSE(server.TakePendingCommand(&code, nullptr, nullptr));
    EXPECT_TRUE(server.IsConnected());

    // No end marker within the receive buffer: the framing is lost, the client dropped.
    client.Send("NEXSTART 3 " + std::string(1100, 'y'));
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_FALSE(server.IsConnected());
    ConnectClient();
}

TEST_F(ComServerLoopback, StopsPromptlyWhileAClientIsMidMessage) {
    ConnectClient();
    client.Send("NEXSTART 1 CMD ");
    // The stop must not wait for the rest of the message: it ends the
    // connection and the thread without more input from the client.
    server.StopServer();
    ASSERT_TRUE(WaitFor([&] { return !server.IsConnected(); }, 20000));
    EXPECT_TRUE(client.WaitClosed(20000));
}
