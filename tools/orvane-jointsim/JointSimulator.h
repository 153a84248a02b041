#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SimBus.h"
#include "SimConfig.h"

// Every module on the joint bus in one object: arm joints (protocol V1 or
// V2), gripper joint, platform wheels, digital I/O modules and the
// supply/status message. Single-threaded: frames, ticks and control
// commands all come from the simulator's one loop.
class JointSimulator {
public:
    struct Options {
        bool v2 = true;
        double speed = 0.0;           // joint units per second; 0 = follow the set-point at once
        double referenceDelay = 0.3;  // seconds from the reference command to the referenced bit
        double supplyPeriod = 0.1;
        double temperaturePeriod = 1.0;
        bool verbose = false;
    };
    using Sender = std::function<void(const SimFrame&)>;
    using Printer = std::function<void(const std::string&)>;

    JointSimulator(const SimConfig& config, const Options& options, Sender send, Printer print);

    // A frame from the controller, at time `now` (seconds, monotonic).
    void OnFrame(const SimFrame& frame, double now);
    // Periodic work: supply message, temperatures, referencing delays, shutdown stage 2.
    void Tick(double now);
    // One control-port line; returns the reply (one or more lines, each ending in '\n').
    std::string Command(const std::string& line, double now, bool* quit);

    struct Module {
        SimConfig::Module config;
        bool enabled = false;
        int errorBits = 0;        // injected, cleared by a reset command
        bool silent = false;
        long long counts = 0;     // measured position, encoder counts
        long long target = 0;
        double lastMove = -1.0;
        uint8_t inputs = 0;       // bits 0 ... 6
        bool referenced = false;
        double referenceAt = -1.0;
        double temperature = 30.0;
        bool temperatureValid = true;
        int outputs = 0;          // byte 7 (V2) or byte 5 (V1) of the last frame
        long positionFrames = 0;
        int lastCounter = -1;
        bool aligned = false;
    };
    const std::vector<Module>& Modules() const { return modules; }
    int Supply() const { return supplyMv; }
    bool EmergencyStop() const { return estop; }

private:
    Module* Find(int busId);
    void Answer(Module& m, double now);
    void Move(Module& m, double now);
    void SendSupply();
    void SendTemperatures();
    void SendShutdown(int stage);
    std::string Status() const;

    std::vector<Module> modules;
    Options options;
    Sender send;
    Printer print;
    int supplyMv = 24000;
    int currentMa = 0;
    bool estop = false;
    double nextSupply = 0.0;
    double nextTemperature = 0.0;
    double shutdownStage2At = -1.0;
    int led[3] = {-1, -1, -1};
};
