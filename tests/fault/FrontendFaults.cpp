// Misbehaving front-end clients: one that floods messages, one that sends
// random bytes, one that connects and says nothing, one that stops reading,
// a thousand connects in a row. Each time the robot cycle keeps pace with
// the main loop (cycles counted at the simulator), the main loop keeps its
// passes (a status line every 40) and the next client is served.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "fault/FaultRig.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each fault lasts this long at least, and until the main loop has written
// kStatusLines status lines (one a second) during it: progress is judged by
// the controller's own passes, so a loaded machine only makes a fault last
// longer. kLimitSeconds ends a fault whose main loop stalled.
constexpr double kFaultSeconds = 5.0;
constexpr int kStatusLines = 3;
constexpr double kLimitSeconds = 120.0;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A raw loopback TCP connection to the controller's front-end port.
class RawClient {
public:
    // receiveBuffer > 0 shrinks the receive buffer (set before connecting).
    RawClient(int port, int receiveBuffer = 0) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The controller listens again about a second after each client.
        const auto end = Clock::now() + std::chrono::milliseconds(FaultRig::startMs);
        while (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            close(fd);
            fd = -1;
            if (Clock::now() > end) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) return;
            if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Open() const { return fd >= 0; }
    void Close() {
        if (fd >= 0) close(fd);
        fd = -1;
    }

    // Sends what the socket takes within waitMs; the bytes sent, -1 when the
    // connection is gone.
    long Send(const std::string& data, int waitMs) {
        size_t done = 0;
        const auto end = Clock::now() + std::chrono::milliseconds(waitMs);
        while (done < data.size()) {
            const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
            if (Clock::now() > end) break;
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 5);
        }
        return long(done);
    }

    // Reads what has arrived; counts status telegrams and keeps the text of
    // answers. False when the controller closed the connection.
    bool Drain() {
        char buffer[8192];
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n == 0) return false;
            if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            received.append(buffer, size_t(n));
            size_t at;
            while ((at = received.find("NEXEND")) != std::string::npos) {
                const std::string message = received.substr(0, at);
                if (message.find(" STATUS ") != std::string::npos) ++telegrams;
                if (message.find(" INFO ProgramInfo ") != std::string::npos) ++answers;
                received.erase(0, at + 6);
            }
            // Bounded: without NEXEND the rest is not kept.
            if (received.size() > 65536) received.clear();
        }
    }

    int telegrams = 0;
    int answers = 0;

private:
    int fd = -1;
    std::string received;
};

class FrontendFaults : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string started = rig.Start();
        ASSERT_EQ(started, "");
        faultStart = rig.Mark();
    }

    // After the fault (which began at line `mark`): the next client gets
    // telegrams and answers, the main loop kept its passes, the cycle kept pace.
    void ExpectServedAndInTime(size_t mark) {
        const std::string connected = rig.ConnectClient();
        ASSERT_EQ(connected, "") << rig.Tail();
        EXPECT_TRUE(rig.WaitTelegrams(10));
        EXPECT_TRUE(rig.Run("info")) << rig.Tail();
        EXPECT_TRUE(rig.Run("enable"));
        EXPECT_TRUE(rig.WaitStatus([](const ComStatusTelegram& s) {
            return s.errorText == "NoError" && s.kinState == 0;
        })) << rig.Status().ToReadable();
        // From the fault's start until the next client was served, and over
        // enough passes to judge (a short fault is over within a status line).
        size_t at = mark;
        for (int seen = 0; seen < kStatusLines; ++seen, ++at)
            ASSERT_TRUE(rig.WaitLine("Pos: ", at, FaultRig::stepMs, &at)) << rig.Tail();
        EXPECT_EQ(rig.CheckCyclePace({mark, faultStart.frames}, rig.Mark()), "") << rig.Tail();
        EXPECT_TRUE(rig.ControllerAlive()) << rig.Tail();
        // And it still ends in order.
        EXPECT_EQ(rig.EndController(), 0) << rig.Tail();
        EXPECT_GT(rig.CountLines("Orvane: Exiting...", 0), 0) << rig.Tail();
        EXPECT_EQ(rig.CountLines("Sanitizer", 0), 0) << rig.Tail();
        EXPECT_EQ(rig.CountLines("EXCEPTION", 0), 0) << rig.Tail();
    }

    // True while the fault should go on: for kFaultSeconds at least, and
    // until the main loop has written kStatusLines status lines since `mark`
    // (a loop stalled on the client writes none), within kLimitSeconds.
    bool FaultGoesOn(size_t mark, Clock::time_point start) const {
        const double seconds = Since(start);
        if (seconds >= kLimitSeconds || !rig.ControllerAlive()) return false;
        return seconds < kFaultSeconds || rig.CountLines("Pos: ", mark) < kStatusLines;
    }

    // The main loop kept its passes during the fault.
    void ExpectMainLoopPasses(size_t mark, double seconds) {
        ASSERT_GE(seconds, kFaultSeconds) << "too short to judge";
        EXPECT_GE(rig.CountLines("Pos: ", mark), kStatusLines)
            << "main loop status lines in " << seconds << " s" << rig.Tail();
    }

    FaultRig rig;
    FaultRig::Progress faultStart;  // the frames just before the test's fault
};

// Messages as fast as the socket takes them, for five seconds: keep-alives,
// requests that are answered, commands that do not exist.
TEST_F(FrontendFaults, FloodingClient) {
    const size_t mark = rig.LineCount();
    const auto start = Clock::now();
    {
        RawClient flood(rig.FrontendPort());
        ASSERT_TRUE(flood.Open());
        std::string batch;
        for (int i = 0; i < 50; ++i) {
            const std::string n = std::to_string(i);
            batch += "NEXSTART " + n + " ALIVEJOG 0 0 0 0 0 0 0 0 0 NEXEND\n";
            batch += "NEXSTART " + n + " CMD GetProgramInfo NEXEND\n";
            batch += "NEXSTART " + n + " CMD NoSuchCommand NEXEND\n";
        }
        long total = 0;
        // Until the controller has also sent telegrams (one per pass) and answers.
        while (FaultGoesOn(mark, start) || (flood.telegrams < 50 && Since(start) < kLimitSeconds)) {
            const long sent = flood.Send(batch, 20);
            ASSERT_GE(sent, 0) << "connection lost" << rig.Tail();
            total += sent;
            ASSERT_TRUE(flood.Drain()) << "the controller closed the connection" << rig.Tail();
        }
        // The controller kept sending its telegrams (one per pass) and answered
        // requests while being flooded.
        EXPECT_GE(flood.telegrams, 50) << "bytes sent " << total << " in " << Since(start) << " s";
        EXPECT_GT(flood.answers, 0);
    }
    ExpectMainLoopPasses(mark, Since(start));
    EXPECT_GT(rig.CountLines("NEX-Server: ERROR Could not parse robot command!", mark), 10);
    ExpectServedAndInTime(mark);
}

// Random bytes, then frames of random content: rejected, nothing else.
TEST_F(FrontendFaults, ClientSendingRandomBytes) {
    const size_t mark = rig.LineCount();
    const auto start = Clock::now();
    {
        RawClient noise(rig.FrontendPort());
        ASSERT_TRUE(noise.Open());
        std::mt19937 random(20240613u);
        std::string bytes(256 * 1024, '\0');
        for (char& c : bytes) c = char(random() & 0xFF);
        ASSERT_GE(noise.Send(bytes, 10000), 0);
        std::string frames;
        for (int i = 0; i < 300; ++i) {
            std::string body(size_t(random() % 300), '\0');
            for (char& c : body) c = char(random() & 0xFF);
            frames += "NEXSTART " + std::to_string(i) + " " + body + " NEXEND";
        }
        // Some of these may be cut off as overlong; the controller may end the connection.
        noise.Send(frames, 5000);
        while (FaultGoesOn(mark, start)) {
            noise.Drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ExpectMainLoopPasses(mark, Since(start));
    ExpectServedAndInTime(mark);
}

// A client that connects and sends nothing stays connected (no keep-alive
// ever armed the watchdog) and gets its telegrams; when it goes, the next one
// is served.
TEST_F(FrontendFaults, ClientThatSaysNothing) {
    const size_t mark = rig.LineCount();
    const auto start = Clock::now();
    {
        RawClient quiet(rig.FrontendPort());
        ASSERT_TRUE(quiet.Open());
        while (FaultGoesOn(mark, start) || (quiet.telegrams < 40 && Since(start) < kLimitSeconds)) {
            ASSERT_TRUE(quiet.Drain()) << "dropped" << rig.Tail();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_GE(quiet.telegrams, 40);
    }
    EXPECT_EQ(rig.CountLines("watchdog", mark), 0) << rig.Tail();
    ExpectMainLoopPasses(mark, Since(start));
    ExpectServedAndInTime(mark);
}

// A front-end that writes its jog values with decimal commas: its keep-alives
// do not parse, yet they show it is alive. It stays connected for several
// watchdog periods (2.5 s each), and the error is logged once, not 40 times a second.
TEST_F(FrontendFaults, ClientWithCommaDecimalKeepAlives) {
    const size_t mark = rig.LineCount();
    const auto start = Clock::now();
    {
        RawClient comma(rig.FrontendPort());
        ASSERT_TRUE(comma.Open());
        for (int i = 0; Since(start) < 3.0 * kFaultSeconds / 2.0; ++i) {
            ASSERT_GE(comma.Send("NEXSTART " + std::to_string(i % 1000) + " ALIVEJOG 12,5 0 0 0 0 0 0 0 0 NEXEND", 50),
                      0);
            ASSERT_TRUE(comma.Drain()) << "dropped after " << Since(start) << " s" << rig.Tail();
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        EXPECT_GE(comma.telegrams, 40);
    }
    EXPECT_EQ(rig.CountLines("watchdog", mark), 0) << rig.Tail();
    EXPECT_EQ(rig.CountLines("NEX-Server: ERROR invalid keep-alive jog values, jog stopped", mark), 1) << rig.Tail();
    ExpectServedAndInTime(mark);
}

// A client that sends keep-alives but never reads: the telegrams pile up in
// the socket until a send would block; the controller drops the client
// instead of waiting for it, and its main loop never stalls.
TEST_F(FrontendFaults, ClientThatStopsReading) {
    const size_t mark = rig.LineCount();
    const auto start = Clock::now();
    size_t dropped = 0;
    {
        RawClient deaf(rig.FrontendPort(), 4096);
        ASSERT_TRUE(deaf.Open());
        const std::string keepAlive = "NEXSTART 1 ALIVEJOG 0 0 0 0 0 0 0 0 0 NEXEND\n";
        bool found = false;
        while ((!found || FaultGoesOn(mark, start)) && Since(start) < kLimitSeconds && rig.ControllerAlive()) {
            // Once dropped, the sends fail; the time still counts.
            if (deaf.Send(keepAlive, 50) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            found = found ||
                    rig.WaitLine("NEX-Server: could not write to stream, closing connection", mark, 50, &dropped);
        }
        ASSERT_TRUE(found) << "not dropped after " << Since(start) << " s" << rig.Tail();
    }
    ExpectMainLoopPasses(mark, Since(start));
    ExpectServedAndInTime(mark);
}

// A thousand connections opened and closed at once, as fast as they go.
TEST_F(FrontendFaults, ThousandConnectsInARow) {
    const size_t mark = rig.LineCount();
    const auto start = Clock::now();
    int accepted = 0, refused = 0, pending = 0, tries = 0;
    for (; tries < 1000 && Since(start) < kLimitSeconds; ++tries) {
        // Non-blocking: a full listen queue drops the handshake instead of refusing it.
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(rig.FrontendPort()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        if (result != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 200) == 1) {
                int error = 0;
                socklen_t size = sizeof(error);
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                result = error == 0 ? 0 : -1;
            } else {
                ++pending;
                result = 1;
            }
        }
        if (result == 0)
            ++accepted;
        else if (result < 0)
            ++refused;
        close(fd);
    }
    EXPECT_EQ(tries, 1000) << "accepted " << accepted << ", refused " << refused << ", no answer " << pending;
    EXPECT_GT(accepted, 0) << "refused " << refused << ", no answer " << pending;
    ExpectServedAndInTime(mark);
}

}  // namespace
