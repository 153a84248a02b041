#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "FrontendClient.h"

// Runs console front-end commands ("enable", "mode base", "jog 1 50 2", ...)
// against a connected controller.
class FrontendScript {
public:
    // Exit statuses of the tool.
    enum Status { ok = 0, controllerError = 1, timedOut = 2, connectionFailed = 3, usage = 4 };

    struct Options {
        bool script = false;         // stop at the first failure
        double stepTimeoutS = 10.0;  // waits of one step
        double statusEveryS = 1.0;   // print a decoded status this often; 0 = never
    };

    FrontendScript(FrontendClient& client, const Options& options);

    // Prints through the shared lock (the reader thread prints too).
    void Print(const std::string& line);
    // Hooks for the client's reader thread.
    void OnEvent(const FrontendClient::Event& event);
    void OnStatus(const ComStatusTelegram& status);

    // Runs one command line; returns ok or the failure status.
    Status Run(const std::string& line);
    // Status of the whole run so far (an error message counts in script mode).
    Status Result() const;
    // Lets late operator messages arrive and be judged.
    void Drain(int ms);

    static std::string Help();
    static bool IsErrorMessage(const std::string& text);

private:
    Status SendPaced(const std::string& body);
    Status WaitPasses(int passes);
    Status WaitEvent(const std::string& prefix, bool answer, std::string* text, double timeoutS);
    Status Jog(const std::vector<std::string>& args);
    Status Upload(const std::vector<std::string>& args);
    Status WaitReady(double timeoutS);
    Status Shutdown(int number);
    Status Fail(Status status, const std::string& why);
    // Takes the next event from the client and keeps it for a later
    // wait-message / answer wait, so a message that arrives while another step
    // waits is not lost.
    bool NextEvent(FrontendClient::Event* event, int timeoutMs);
    bool TakeKept(const std::string& prefix, bool answer, std::string* text);
    static bool Matches(const FrontendClient::Event& event, const std::string& prefix, bool answer);
    int TimeoutMs() const { return static_cast<int>(options.stepTimeoutS * 1000.0); }

    FrontendClient& client;
    Options options;
    std::mutex printMutex;
    std::atomic<bool> errorSeen{false};
    std::atomic<bool> expectClose{false};
    long long lastStatusPrintMs = 0;  // reader thread only
    Status worst = ok;
    std::deque<FrontendClient::Event> kept;  // newest last, bounded
    static constexpr std::size_t maxKept = 256;
};
