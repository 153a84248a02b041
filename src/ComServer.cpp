#include "ComServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "ComFrameReader.h"
#include "ComMessageParser.h"
#include "ComProgramAccessIPO.h"
#include "ComRequest.h"
#include "ComTelegram.h"
#include "LogSingleton.h"

namespace {

constexpr int kReadTimeoutMs = 1000;  // a message must keep coming at least this fast
constexpr int kPollSliceMs = 20;      // how often blocking waits look at the stop flag
// What may wait in the socket for a client that does not read: a few seconds
// of status telegrams (the kernel doubles the value). Sends never block, so a
// fuller buffer drops the client; left to the kernel's tuning it would take
// megabytes of stale telegrams, minutes of holding the only client slot.
constexpr int kSendBufferBytes = 32 * 1024;

void Log(const std::string& text) { LogSingleton::instance()->add(text); }

}  // namespace

ComServer::ComServer() = default;

ComServer::~ComServer() {
    connected.store(false);
    StopServer();
    if (thread.joinable()) thread.join();
    closeConnection();
    if (listenFd >= 0) {
        ::close(listenFd);
        listenFd = -1;
    }
}

void ComServer::SetIPO(IPO* interpreter) {
    ipo = interpreter;
    refreshAccess();
}

void ComServer::SetProjectManager(ProjectManager* pm) {
    project = pm;
    refreshAccess();
}

void ComServer::refreshAccess() {
    // Only before the server runs, so that the server thread never sees the
    // adapter replaced under it.
    if (thread.joinable()) return;
    if (ipo == nullptr) {
        access.store(nullptr);
        ownAccess.reset();
        return;
    }
    auto adapter = std::make_unique<ComProgramAccessIPO>(ipo, project);
    access.store(adapter.get());
    ownAccess = std::move(adapter);
}

void ComServer::SetProgramAccess(ComProgramAccess* programAccess) {
    testAccess.store(programAccess);
}

void ComServer::SetPort(int p) {
    port = p;
    portSet = true;
}

void ComServer::SetBindAddress(const std::string& address) {
    bindAddress = address;
    bindAddressSet = true;
}

void ComServer::SetDataDirectory(const std::string& directory) { dataDirectory = directory; }

int ComServer::PortFromEnvironment(const char* value, std::string* logLine) {
    if (value == nullptr || *value == '\0') return defaultPort;
    int parsed = 0;
    if (ComMessageParser::ToInt(value, 10, &parsed) && parsed >= 1 && parsed <= 65535) {
        return parsed;
    }
    if (logLine != nullptr) {
        *logLine = "NEX-Server: ERROR invalid ORVANE_FRONTEND_PORT \"" +
                   ComMessageParser::Printable(std::string(value).substr(0, 64)) +
                   "\", using 3920";
    }
    return defaultPort;
}

void ComServer::StartServer() {
    if (thread.joinable()) return;  // already running
    if (!portSet) {
        std::string logLine;
        port = PortFromEnvironment(std::getenv("ORVANE_FRONTEND_PORT"), &logLine);
        if (!logLine.empty()) LogSingleton::instance()->addError(logLine);
    }
    if (!bindAddressSet) {
        const char* env = std::getenv("ORVANE_FRONTEND_ADDRESS");
        bindAddress = env != nullptr ? env : "";
    }
    if (dataDirectory.empty()) {
        dataDirectory = LogSingleton::instance()->GetBaseDirectory() + "Data/";
    }
    stopFlag.store(false);
    thread = std::thread(&ComServer::threadComLoop, this);
    Log("NEX-Server: starting");
}

void ComServer::StopServer() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        stopFlag.store(true);
    }
    wake.notify_all();
}

void ComServer::Join() {
    if (thread.joinable()) thread.join();
}

bool ComServer::sleepFor(int ms) {
    std::unique_lock<std::mutex> lock(wakeMutex);
    return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopFlag.load(); });
}

// ---------------------------------------------------------------- main loop side

void ComServer::SetCurrentPos(DataTypes::RobotState state) {
    std::lock_guard<std::mutex> lock(stateMutex);
    currentState = state;
}

void ComServer::PublishData() {
    if (!connected.load()) return;
    DataTypes::RobotState state;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        state = currentState;
    }
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        if (!connected.load() || connFd < 0) return;
        failed = !sendLocked(ComTelegram::Status(counter, state));
    }
    if (failed) sendFailed();
}

void ComServer::SendDisplayMessage() {
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        if (!connected.load() || connFd < 0) return;
        std::string message;
        if (LogSingleton::instance()->DisplayGetMessage(&message) != 1) return;
        failed = !sendLocked(ComTelegram::Message(counter, message));
    }
    if (failed) sendFailed();
}

void ComServer::SendAnswer(std::string text) {
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        if (!connected.load() || connFd < 0) return;
        failed = !sendLocked(ComTelegram::Answer(counter, text));
    }
    if (failed) sendFailed();
}

bool ComServer::sendLocked(const std::string& text) {
    // Never block the main loop on a client that does not read, and never
    // leave half a telegram on the wire: anything short of the whole text
    // ends the connection.
    ssize_t sent = ::send(connFd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    counter = (counter + 1) % 1000;
    return sent == static_cast<ssize_t>(text.size());
}

void ComServer::sendFailed() {
    connected.store(false);
    {
        std::lock_guard<std::mutex> lock(watchdogMutex);
        watchdog = -1;
    }
    Log("NEX-Server: could not write to stream, closing connection");
}

void ComServer::GetJogValues(float* out) {
    bool dropped = false;
    {
        std::lock_guard<std::mutex> lock(watchdogMutex);
        // Counts down only while armed, so an idle watchdog never wraps.
        if (watchdog > 0) {
            --watchdog;
            if (watchdog == 0) {
                connected.store(false);
                watchdog = -1;
                channel.ResetJogValues();
                dropped = true;
            }
        }
        if (out != nullptr) channel.GetJogValues(out);
    }
    if (dropped) Log("NEX-Server: client does not send anymore (watchdog), closing connection");
}

void ComServer::resetJogValues() { channel.ResetJogValues(); }

bool ComServer::TakePendingCommand(int* code, int* intArg, float* numArg) {
    OperatorCommand command = channel.TakeCommand();
    if (code != nullptr) *code = command.code;
    if (intArg != nullptr) *intArg = command.intArg;
    if (numArg != nullptr) *numArg = command.numArg;
    return command.code != 0;
}

int ComServer::GetWatchdog() const {
    std::lock_guard<std::mutex> lock(watchdogMutex);
    return watchdog;
}

int ComServer::GetCounter() const {
    std::lock_guard<std::mutex> lock(sendMutex);
    return counter;
}

// ---------------------------------------------------------------- messages

void ComServer::ParseMessage(char* message, int length) {
    ComRequest request = ComMessageParser::Parse(message, length);
    // A front-end whose keep-alives never parse sends dozens a second: say so
    // once per connection, not into every line of the log.
    const bool badKeepAlive = request.action == ComRequest::Action::KeepAlive && !request.jogValid;
    if (!badKeepAlive || !badKeepAliveLogged)
        for (const std::string& line : request.logLines) Log(line);
    if (badKeepAlive) badKeepAliveLogged = true;
    for (const std::string& line : request.stdoutLines) std::cout << line << std::endl;
    if (!request.operatorMessage.empty()) {
        LogSingleton::instance()->DisplaySetMessage(request.operatorMessage);
    }
    try {
        apply(request);
    } catch (const std::exception& e) {
        LogSingleton::instance()->addError(std::string("NEX-Server: ERROR handling message: ") +
                                           e.what());
    }
}

void ComServer::apply(const ComRequest& r) {
    using Action = ComRequest::Action;
    ComProgramAccess* programs = testAccess.load();
    if (programs == nullptr) programs = access.load();
    // What changes programs needs the interpreter; without one the request is logged and dropped.
    auto withInterpreter = [programs](auto change) {
        if (programs == nullptr) {
            Log("NEX-Server: ERROR no interpreter, request ignored");
        } else {
            change(*programs);
        }
    };

    switch (r.action) {
        case Action::None:
            break;
        case Action::KeepAlive: {
            std::lock_guard<std::mutex> lock(watchdogMutex);
            if (r.jogValid) {
                channel.SetJogValues(r.values);
            } else {
                channel.ResetJogValues();
            }
            // The client is alive whether or not its numbers parse.
            watchdog = watchdogPasses;
            break;
        }
        case Action::Pending:
            channel.PostCommand(r.code, r.intArg, r.floatArg);
            break;
        case Action::DeleteProgramFile:
            withInterpreter([&](ComProgramAccess& p) { p.DeleteProgramFile(r.text); });
            break;
        case Action::GetProgramInfo: {
            std::string name = "n/a";
            int count = 0, third = 0;
            if (programs != nullptr) programs->GetProgramInformation(&name, &count, &third);
            SendAnswer("INFO ProgramInfo " + name + " " + std::to_string(count) + " " +
                       std::to_string(third));
            break;
        }
        case Action::GetProgramName: {
            std::string name;
            int result = 0;
            if (programs != nullptr) result = programs->GetFilename(r.number, &name);
            SendAnswer("INFO ProgramName " + name + " " + std::to_string(r.number) + " " +
                       std::to_string(result));
            break;
        }
        case Action::LoadProgram:
            withInterpreter([&](ComProgramAccess& p) { p.LoadProgram(r.text); });
            break;
        case Action::UploadInit:
            for (const std::string& line : upload.Init(dataDirectory, r.text, r.number)) Log(line);
            break;
        case Action::UploadLine:
            for (const std::string& line : upload.Line(r.text)) Log(line);
            break;
        case Action::UploadLineRefused:
            for (const std::string& line : upload.Refused()) Log(line);
            break;
        case Action::UploadFinish: {
            std::string text;
            for (const std::string& line : upload.Finish(&text)) Log(line);
            LogSingleton::instance()->DisplaySetMessage(text);
            break;
        }
        case Action::ProgJoint:
            withInterpreter([&](ComProgramAccess& p) {
                float joints[9];
                for (int i = 0; i < 9; ++i) joints[i] = r.values[i];
                p.AddCommandJoint(r.number, 9, joints, r.velocity);
            });
            break;
        case Action::ProgGripper:
            withInterpreter([&](ComProgramAccess& p) {
                float values[3] = {r.values[0], r.values[1], r.values[2]};
                p.AddCommandGripper(r.number, values);
            });
            break;
        case Action::ProgWait:
            withInterpreter([&](ComProgramAccess& p) { p.AddCommandWait(r.number, r.waitMs); });
            break;
    }
}

// ---------------------------------------------------------------- server thread

void ComServer::threadComLoop() {
    channel.ClearCommand();
    try {
        while (!stopFlag.load()) {
            connected.store(false);
            if (!sleepFor(1000)) break;
            serveOneConnection();
        }
    } catch (const std::exception& e) {
        LogSingleton::instance()->addError("ERROR: NEX-Server cannot establish server");
        LogSingleton::instance()->addError(e.what());
    }
    connected.store(false);
    closeConnection();
    if (listenFd >= 0) {
        ::close(listenFd);
        listenFd = -1;
    }
}

void ComServer::serveOneConnection() {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) {
        Log("NEX-Server: error opening socket");
        return;
    }
    int one = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
        LogSingleton::instance()->addError("NEX-Server: ERROR invalid listen address \"" +
                                           ComMessageParser::Printable(bindAddress.substr(0, 64)) +
                                           "\", using all local addresses");
        bindAddress.clear();
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) {
        int err = errno;
        Log("NEX-Server: error on binding");
        std::cout << std::strerror(err) << std::endl;
        ::close(listenFd);
        listenFd = -1;
        return;
    }
    if (port == 0) {
        // Keep the port the system chose, so that a restart listens on it again.
        sockaddr_in bound{};
        socklen_t size = sizeof(bound);
        if (::getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
            port = ntohs(bound.sin_port);
        }
    }
    boundPort.store(port);
    ::listen(listenFd, 5);
    Log("NEX-Server: waiting for client");

    int fd = -1;
    while (!stopFlag.load()) {
        pollfd p{listenFd, POLLIN, 0};
        int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 0) {
            fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            break;
        }
    }
    if (fd < 0) {
        if (!stopFlag.load()) Log("NEX-Server: error on accept");
        ::close(listenFd);
        listenFd = -1;
        return;
    }

    timeval timeout{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) < 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) < 0) {
        Log("NEX-Server: setsockopt failed");
    }
    int sendBuffer = kSendBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof(sendBuffer)) < 0) {
        Log("NEX-Server: setsockopt failed");
    }
    {
        std::lock_guard<std::mutex> lock(watchdogMutex);
        watchdog = -1;
    }
    badKeepAliveLogged = false;
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        connFd = fd;
    }
    // The greeting waits in the mailbox for the first pass that sees the client.
    LogSingleton::instance()->DisplaySetMessage("Orvane Version " +
                                                LogSingleton::instance()->GetVersion());
    connected.store(true);
    Log("NEX-Server: client accepted");

    while (connected.load() && !stopFlag.load()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1) > 0) readFramedMessage(fd);
        if (!sleepFor(5)) break;
    }

    // Lines of an upload may have been lost with the connection.
    for (const std::string& line : upload.Abandon()) Log(line);
    try {
        resetJogValues();
        connected.store(false);
        sleepFor(200);
        closeConnection();
        sleepFor(200);
        ::close(listenFd);
        listenFd = -1;
        Log("NEX-Server: connection closed");
        sleepFor(100);
        Log("NEX-Server: Restarting in 1s ... ");
    } catch (const std::exception& e) {
        LogSingleton::instance()->addError("ERROR: NEX-Server Close error");
        LogSingleton::instance()->addError(e.what());
        throw;
    }
}

void ComServer::closeConnection() {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (connFd >= 0) {
        ::close(connFd);
        connFd = -1;
    }
}

int ComServer::readByte(int fd, char* byte) {
    int waited = 0;
    while (!stopFlag.load()) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, kPollSliceMs);
        if (ready < 0 && errno != EINTR) return -1;
        if (ready > 0) {
            ssize_t n = ::recv(fd, byte, 1, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return n > 0 ? 1 : static_cast<int>(n);
        }
        waited += kPollSliceMs;
        if (waited >= kReadTimeoutMs) return -1;
    }
    return -1;
}

void ComServer::readFramedMessage(int fd) {
    ComFrameReader reader;
    for (;;) {
        char byte = 0;
        if (readByte(fd, &byte) <= 0) {
            if (!stopFlag.load()) LogSingleton::instance()->addError("ERROR: NEX-Server Read error");
            dropClient();
            return;
        }
        ComFrameReader::Result result = reader.Feed(byte);
        if (result == ComFrameReader::Result::Complete) {
            std::string message = reader.Message();
            ParseMessage(&message[0], static_cast<int>(message.size()));
            return;
        }
        if (result == ComFrameReader::Result::Overflow) {
            LogSingleton::instance()->addError(
                "NEX-Server: ERROR no NEXEND within 1024 bytes, closing connection");
            dropClient();
            return;
        }
    }
}

void ComServer::dropClient() {
    connected.store(false);
    std::lock_guard<std::mutex> lock(watchdogMutex);
    watchdog = -1;
}
