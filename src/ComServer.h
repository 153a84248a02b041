#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ComProgramAccess.h"
#include "ComUpload.h"
#include "OperatorChannel.h"
#include "PkgDataTypes/RobotState.h"

class RobotMaster;
class IPO;
class ProjectManager;
struct ComRequest;

// TCP server for one PC front-end. Its own thread accepts a client, reads
// framed messages and turns them into pending operator commands, jog values
// and program requests; the main loop has it publish the robot state every
// pass. Sends from the main loop and the server thread are serialised.
class ComServer {
public:
    static constexpr int defaultPort = 3920;
    static constexpr int watchdogPasses = 100;

    ComServer();
    ~ComServer();
    ComServer(const ComServer&) = delete;
    ComServer& operator=(const ComServer&) = delete;

    void SetRobot(RobotMaster* robot) { rm = robot; }
    // Set before StartServer (changes while the server runs are ignored).
    void SetIPO(IPO* interpreter);
    void SetProjectManager(ProjectManager* project);
    // Replaces the interpreter access (tests); nullptr returns to the IPO's.
    void SetProgramAccess(ComProgramAccess* access);

    // Port to listen on; 0 picks a free one (see GetBoundPort). Without a
    // call, ORVANE_FRONTEND_PORT or 3920.
    void SetPort(int port);
    // Local IPv4 address to listen on; without a call ORVANE_FRONTEND_ADDRESS,
    // or all local addresses.
    void SetBindAddress(const std::string& address);
    // Directory that uploads go to (ends with '/'); default base directory + "Data/".
    void SetDataDirectory(const std::string& directory);

    void StartServer();
    void StopServer();
    // Waits for the server thread after StopServer (before the objects it
    // uses, such as the project manager, go away).
    void Join();

    // Main loop, once per pass.
    void SetCurrentPos(DataTypes::RobotState state);
    void PublishData();
    void SendDisplayMessage();
    void GetJogValues(float* out);
    void resetJogValues();
    // The pending operator command and the jog values, as the main loop
    // takes and clears them (the jog values are better read through
    // GetJogValues, which runs the watchdog).
    OperatorChannel& Channel() { return channel; }
    // Takes the pending operator command and clears it; false when none.
    bool TakePendingCommand(int* code, int* intArg, float* numArg);
    // Operator command 6 reads these; the protocol never sets them.
    float GetFurtherFloat() const { return furtherFloat; }
    DataTypes::RobotState GetCommandState() const { return commandState; }

    void SendAnswer(std::string text);
    // One framed message from the client (server thread).
    void ParseMessage(char* message, int length);

    bool IsConnected() const { return connected.load(); }
    int GetBoundPort() const { return boundPort.load(); }
    int GetWatchdog() const;
    int GetCounter() const;

    // Port from the environment text (nullptr = unset); an invalid value
    // gives 3920 and a log line in *logLine.
    static int PortFromEnvironment(const char* value, std::string* logLine);

private:
    void threadComLoop();
    void serveOneConnection();
    void readFramedMessage(int fd);
    int readByte(int fd, char* byte);
    void apply(const ComRequest& request);
    bool sendLocked(const std::string& text);
    void sendFailed();
    void dropClient();
    void refreshAccess();
    void closeConnection();
    bool sleepFor(int ms);  // false when stopped meanwhile

    RobotMaster* rm = nullptr;
    IPO* ipo = nullptr;
    ProjectManager* project = nullptr;
    std::unique_ptr<ComProgramAccess> ownAccess;
    std::atomic<ComProgramAccess*> access{nullptr};
    std::atomic<ComProgramAccess*> testAccess{nullptr};

    std::atomic<bool> stopFlag{false};
    std::atomic<bool> connected{false};
    std::thread thread;
    std::mutex wakeMutex;
    std::condition_variable wake;

    mutable std::mutex sendMutex;  // connection socket and counter
    int connFd = -1;
    int counter = 0;

    int listenFd = -1;  // server thread only
    int port = -1;      // -1: not chosen yet
    bool portSet = false;
    std::string bindAddress;
    bool bindAddressSet = false;
    std::atomic<int> boundPort{0};
    std::string dataDirectory;

    OperatorChannel channel;  // pending command and jog values
    float furtherFloat = 0.0f;
    DataTypes::RobotState commandState;

    // The watchdog; held around jog updates that go with it, so that a
    // keep-alive and a drop never interleave. Taken before the channel's lock.
    mutable std::mutex watchdogMutex;
    int watchdog = 0;

    mutable std::mutex stateMutex;
    DataTypes::RobotState currentState;

    ComUpload upload;  // server thread only
    bool badKeepAliveLogged = false;  // server thread only; per connection
};
