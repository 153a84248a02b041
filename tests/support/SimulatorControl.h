#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

// Client of orvane-jointsim's control port: one command per connection, and
// the simulator's view of its modules decoded from "status".
class SimulatorControl {
public:
    struct Module {
        int busId = 0;
        std::string kind;  // joint, gripper, platform, dio
        int index = 0;
        bool enabled = false;
        bool referenced = false;
        long long counts = 0;
        long long target = 0;
        int outputs = 0;
        int inputs = 0;
    };

    explicit SimulatorControl(int port = 0) : port(port) {}
    void SetPort(int p) { port = p; }

    // The reply up to and including "ok" or an "error" line; "" when the
    // simulator cannot be reached.
    std::string Command(const std::string& line) const;
    // All modules, in the simulator's order; empty when unreachable.
    std::vector<Module> Modules() const;
    // The module with this bus id, or nullptr.
    static const Module* Find(const std::vector<Module>& modules, int busId);

    // orvane-jointsim of this build for the robot folder `base`, its bus on the
    // UDP port pair from `udpPort`, its control port on one it chooses, plus `extra`.
    static std::unique_ptr<ChildProcess> Launch(const std::string& base, int udpPort,
                                                const std::vector<std::string>& extra = {});
    // The control port the simulator announced in its output; 0 when none.
    static int AnnouncedPort(const std::string& simulatorOutput);

private:
    int port;
};

// The simulator for a base directory on a free bus port pair, once started
// with its control port known.
struct SimulatorRun {
    // Fails the test when no port pair is free, the simulator is not ready
    // within timeoutMs or announces no control port.
    void Start(const std::string& base, const std::vector<std::string>& extra = {}, int timeoutMs = 20000);

    int busPort = 0;
    std::unique_ptr<ChildProcess> process;  // killed and reaped by its destructor on every path
    int controlPort = 0;
};
