#pragma once

#include <atomic>
#include <functional>
#include <thread>

// SIGINT and SIGTERM, received on a thread of their own instead of in a signal
// handler: the first one asks for the orderly shutdown; a second one while
// that shutdown still runs (a stuck bus operation, a hung peer) logs a line
// and ends the process at once with the conventional status 128 + signal
// (130 for SIGINT, 143 for SIGTERM).
class TerminationSignals {
public:
    // Blocks both signals in the calling thread; every thread started after
    // it inherits the block, so only the watcher ever receives them. Call
    // before any thread exists.
    static void Block();
    static int ExitStatus(int signal) { return 128 + signal; }

    TerminationSignals() = default;
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Starts the watcher; onFirst runs on its thread for the first signal.
    void Start(std::function<void(int signal)> onFirst);
    // Ends and joins the watcher (signals stay blocked and are ignored after it).
    void Stop();

private:
    void Watch();

    std::function<void(int)> first;
    std::atomic<bool> stopRequest{false};
    std::thread watcher;
};
