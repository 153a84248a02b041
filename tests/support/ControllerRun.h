#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/SimulatorControl.h"

// The joint simulator and the controller of this build for a base directory,
// the front-end server on a free loopback port; started once the server waits
// for its client.
struct ControllerRun {
    // Fails the test when no port is free or either process is not ready in time.
    void Start(const std::string& base, int timeoutMs = 20000);

    int port = 0;
    SimulatorRun sim;
    std::unique_ptr<ChildProcess> controller;  // killed and reaped by its destructor on every path
};
