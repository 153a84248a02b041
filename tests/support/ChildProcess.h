#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A child process with pipes to its standard input and output, for system
// tests. The destructor kills and reaps it, so no test leaves one behind.
class ChildProcess {
public:
    // Starts program with args in workingDir ("" = inherit); extraEnv entries are "NAME=value".
    // ORVANE_RT_PRIORITY is 0 (normal scheduling) unless extraEnv sets it.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDir = "", const std::vector<std::string>& extraEnv = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    void Write(const std::string& text);
    void CloseInput();
    // Reads output until `needle` appears or timeoutMs passes; true when found.
    bool WaitForOutput(const std::string& needle, int timeoutMs);
    const std::string& Output() const { return output; }
    // Returns the output read so far and forgets it (for callers that keep their own record).
    std::string TakeOutput();
    // Waits for the exit; returns the exit status, or -1 on time-out / signal.
    int Wait(int timeoutMs);
    void Signal(int sig);
    pid_t Pid() const { return pid; }

    // A loopback TCP port that was free a moment ago.
    static int FreePort();

private:
    void Drain(int waitMs);

    pid_t pid = -1;
    int in = -1;
    int out = -1;
    int status = -1;
    bool reaped = false;
    std::string output;
};

// What is wrong with a process's output: each of `present` that it lacks and
// each of `absent` that it has, one a line; "" when nothing is.
std::string OutputMismatch(const std::string& output, const std::vector<std::string>& present,
                           const std::vector<std::string>& absent = {});
