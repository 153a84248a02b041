#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "OperatorChannel.h"
#include "PkgDataTypes/RobotState.h"

class RobotMaster;
class ProjectManager;

// The main dispatch loop of the controller: every 25 ms it copies the robot
// state for the front-end and the display, merges the jog inputs of the three
// operator channels, carries out at most one operator command and writes the
// periodic status report. One Pass() is one pass; Run() loops until shut down.
class MainDispatchLoop {
public:
    static constexpr int passSleepMs = 25;
    static constexpr int statusEvery = 40;
    static constexpr int reportEvery = 300;
    static constexpr int startPassCounter = 80;
    static constexpr int connectionTries = 5;
    // Once the tries are spent: one quiet attempt every this many passes (about 5 s).
    static constexpr int slowRetryPasses = 200;

    // Hooks into the front-end server and the display; unset hooks do nothing.
    struct Peripherals {
        // SetCurrentPos, PublishData and SendDisplayMessage of the front-end server.
        std::function<void(const DataTypes::RobotState&)> frontendPublish;
        // The front-end's nine jog values (runs the server's watchdog). When
        // unset, the front-end channel's jog values are used.
        std::function<void(float*)> frontendJog;
        // X, Y, rotation A and velocity for operator command 6.
        std::function<void(float* x, float* y, float* a, float* vel)> frontendRelative;
        std::function<void(const DataTypes::RobotState&)> displaySetValues;
        // Status text for the display, then one display update.
        std::function<void(const std::string&)> displayUpdate;
    };

    MainDispatchLoop(RobotMaster& robot, DataTypes::RobotState& snapshot, OperatorChannel& keyboard,
                     OperatorChannel& display, OperatorChannel& frontend);

    void SetPeripherals(const Peripherals& hooks) { peripherals = hooks; }
    void SetProjectManager(ProjectManager* manager) { project = manager; }
    // Replaces the sleeps (tests drive passes without waiting).
    void SetSleep(std::function<void(int ms)> sleepFunction) { sleepMs = std::move(sleepFunction); }
    // Sees every status and report line as it is logged.
    void SetReportObserver(std::function<void(const std::string&)> observer) { reportObserver = std::move(observer); }

    // One pass; returns false once the loop is to end.
    bool Pass();
    // Passes until Shutdown; a standard exception ends the loop. Returns 0.
    int Run();

    // Orderly stop: program stopped, joints reset, loop ends after its pass.
    // Callable from any thread.
    void Shutdown();
    // Async-signal-safe: the next pass runs Shutdown().
    void RequestShutdown() { shutdownRequested.store(true); }
    bool Stopped() const { return flagStop.load(); }

    // Jog values of every channel and of the loop to 0.
    void resetJogValues();
    void CarryOut(const OperatorCommand& command);

    int GetPassCounter() const { return passCounter; }
    void SetPassCounter(int count) { passCounter = count; }
    int GetConnectionTries() const { return cntCANConnectionTries; }
    void GetJogValues(float* out) const;

    static std::string StatusLine(const DataTypes::RobotState& state);
    static std::string ErrorLine(const DataTypes::RobotState& state);
    static std::string TemperatureLine(const DataTypes::RobotState& state);
    static std::string ReferenceLine(const DataTypes::RobotState& state);

private:
    void SuperviseBus();
    void JogMerge();
    OperatorCommand SelectCommand();
    void CarryOutProgramCode(const OperatorCommand& command);
    void Sleep(int ms);
    void Report(const std::string& line);

    RobotMaster& rm;
    DataTypes::RobotState& rs;
    OperatorChannel& keyboardChannel;
    OperatorChannel& displayChannel;
    OperatorChannel& frontendChannel;
    Peripherals peripherals;
    ProjectManager* project = nullptr;
    std::function<void(int)> sleepMs;
    std::function<void(const std::string&)> reportObserver;

    std::atomic<bool> flagStop{false};
    std::atomic<bool> shutdownRequested{false};
    float jogValues[OperatorChannel::jogCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    int cntCANConnectionTries = connectionTries;
    bool busSlowRetry = false;   // tries spent, quiet attempts every slowRetryPasses
    bool busWasLost = false;     // disconnected after a silence, not answering since
    int busRetryCountdown = 0;
    int passCounter = startPassCounter;
};
