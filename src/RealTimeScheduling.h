#pragma once

#include <string>

// Real-time service for the controller's two time-critical threads: the robot
// cycle runs SCHED_FIFO at the configured priority, the CAN receive thread one
// step below it (its answers must be in the table when the cycle reads them),
// every other thread keeps normal scheduling; the process locks its memory.
//
// Configure is called once at start-up, before any of these threads exists.
// Until then, as in tests and tools, every thread keeps normal scheduling.
// Where the process may not have what it asks for, one log line says what it
// could not get and why, and the controller runs on with normal scheduling.
class RealTimeScheduling {
public:
    static constexpr int defaultPriority = 80;
    static constexpr int maxPriority = 99;

    struct Settings {
        int priority = defaultPriority;  // 0: no real-time service at all
        int cpu = -1;                    // the robot cycle thread's CPU; -1: not pinned
    };

    // ORVANE_RT_PRIORITY (0 ... 99, unset: 80) and ORVANE_CPU (0 ... CPUs - 1,
    // unset: no pinning). A value that is not one of these is logged and the
    // default is used instead.
    static Settings FromEnvironment();
    // Reads a whole number lo ... hi from text; otherwise *problem says why
    // (the variable's name and a bounded quote of the text).
    static bool ParseSetting(const char* name, const char* text, int lo, int hi, int* out, std::string* problem);

    // Checks that SCHED_FIFO at the priority is permitted, locks the memory
    // and logs one line with the outcome.
    static void Configure(const Settings& settings);

    // At the start of each thread: the robot cycle thread (its priority, its
    // CPU, stack pre-faulted), the CAN receive thread, and threads started
    // from one of them that must not inherit real-time scheduling.
    static void EnterCycleThread();
    static void EnterReceiveThread();
    static void EnterNormalThread();

    // The calling thread's scheduling, e.g. "SCHED_FIFO priority 80" or "normal scheduling (SCHED_OTHER)".
    static std::string DescribeThisThread();
};
