#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ComStatusTelegram.h"
#include "FrontendClient.h"
#include "FrontendScript.h"
#include "support/SimulatorControl.h"
#include "e2e/StagedRobot.h"
#include "support/ChildProcess.h"

// The controller and the joint-bus simulator as processes on the UDP loopback
// bus, with the simulator's fault-injection port, the controller's log lines
// collected as they come, and a front-end client. Every wait is for a
// condition with a generous limit, so a loaded machine only makes it slower.
class FaultRig {
public:
    // Generous limits for a loaded two-core machine or a sanitizer build.
    static constexpr int startMs = 90000;
    static constexpr int stepMs = 30000;

    // Stages examples/<example>; a program file may be added before Start().
    explicit FaultRig(const std::string& example = "CartesianV2");
    ~FaultRig();
    FaultRig(const FaultRig&) = delete;
    FaultRig& operator=(const FaultRig&) = delete;

    // Writes Data/Programs/<name> with these commands between <Program> tags.
    void AddProgram(const std::string& name, const std::string& body) const;
    // Starts the simulator and the controller; "" or what went wrong.
    std::string Start();
    // Connects the front-end client; "" or what went wrong.
    std::string ConnectClient();

    const StagedRobot& Robot() const { return *robot; }
    const SimulatorControl& Sim() const { return control; }
    int FrontendPort() const { return frontendPort; }
    FrontendClient& Client() { return client; }
    bool ControllerAlive() const { return orvaneAlive.load(); }

    // A console front-end command ("enable", "replay repeat", ...); true when it succeeded.
    bool Run(const std::string& line);
    // Injects a fault at the simulator; true when it answered ok.
    bool Inject(const std::string& command) const;

    // The controller's log lines, without their time stamps, in order.
    size_t LineCount() const;
    std::vector<std::string> LinesFrom(size_t from) const;
    // Waits for a line from index `from` on that contains `text`; its index in *at.
    bool WaitLine(const std::string& text, size_t from, int limitMs, size_t* at = nullptr) const;
    int CountLines(const std::string& text, size_t from) const;
    // The last lines, for failure messages.
    std::string Tail(size_t count = 60) const;

    // Status telegrams.
    ComStatusTelegram Status();
    bool WaitStatus(const std::function<bool(const ComStatusTelegram&)>& condition, int limitMs = stepMs);
    bool WaitTelegrams(int count, int limitMs = stepMs);
    // Position the simulator's module holds for arm joint i, in joint units.
    double SimJoint(size_t joint) const;
    // Position frames the simulator received for arm joint i so far.
    long long SimFrames(size_t joint) const;

    // Where the controller stands: its log lines and the position frames the
    // simulator received for arm joint 1 (one a robot cycle).
    struct Progress {
        size_t line = 0;
        long long frames = 0;
    };
    Progress Mark() const;
    // Checks that the robot cycle kept pace with the main loop between two
    // marks: its cycles (position frames) against the main loop's passes (a
    // status line every 40), at least 40 % of the nominal ratio. A count, not
    // a clock: a loaded machine slows both threads alike, a cycle that waited
    // on a client (a send time-out is a second) falls far behind. The period
    // itself is a figure of scripts/cycle-timing.sh. "" or what was wrong.
    std::string CheckCyclePace(const Progress& from, const Progress& to) const;

    // Ends the controller as an operator would (SIGTERM, the orderly
    // shutdown); its exit status, -1 when it did not end in time. The log
    // lines stay readable.
    int EndController();

    // Stops the log pump; the processes are ended by the destructor.
    void Stop();

private:
    void Pump();
    void TakeLines(const std::string& text);

    std::unique_ptr<StagedRobot> robot;
    SimulatorControl control;
    int busPort = 0;
    int frontendPort = 0;
    int cycleMs = 20;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> orvane;

    std::thread pump;
    std::atomic<bool> pumping{false};
    std::atomic<bool> orvaneAlive{true};
    mutable std::mutex linesMutex;
    std::vector<std::string> lines;
    std::string partial;

    FrontendClient client;
    std::unique_ptr<FrontendScript> script;
};
