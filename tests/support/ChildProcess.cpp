#include "support/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDir, const std::vector<std::string>& extraEnv) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    signal(SIGPIPE, SIG_IGN);
    // Test controllers run with normal scheduling unless a test asks for real
    // time itself: many run at once, some under sanitizers, and a SCHED_FIFO
    // cycle that overruns would run back to back and starve the test runner.
    std::vector<std::string> environment{"ORVANE_RT_PRIORITY=0"};
    environment.insert(environment.end(), extraEnv.begin(), extraEnv.end());
    const pid_t parent = getpid();
    pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // A test process that is killed (a ctest time-out) takes its children
        // with it instead of leaving them running.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(fromChild[1], 2);
        if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(127);
        for (const std::string& e : environment) putenv(const_cast<char*>(e.c_str()));
        // Under a cross build the tools are foreign binaries: run them through
        // the same emulator as the tests.
        std::vector<std::string> words;
        if (const char* emulator = getenv("ORVANE_TEST_EMULATOR")) {
            std::istringstream in(emulator);
            std::string word;
            while (in >> word) words.push_back(word);
        }
        words.push_back(program);
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    out = fromChild[0];
    fcntl(out, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (!reaped && pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (in >= 0) close(in);
    if (out >= 0) close(out);
}

bool ChildProcess::Running() {
    if (reaped) return false;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) reaped = true;
    return !reaped;
}

void ChildProcess::Write(const std::string& text) {
    if (in >= 0) (void)!write(in, text.data(), text.size());
}

void ChildProcess::CloseInput() {
    if (in >= 0) close(in);
    in = -1;
}

void ChildProcess::Drain(int waitMs) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out, buffer, sizeof buffer)) > 0) {
        output.append(buffer, size_t(n));
        // Keep the last megabyte: enough for any test, bounded for long runs.
        if (output.size() > (1u << 20)) output.erase(0, output.size() - (1u << 20));
    }
}

bool ChildProcess::WaitForOutput(const std::string& needle, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output.find(needle) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Drain(20);
        if (!Running()) {
            Drain(0);
            return output.find(needle) != std::string::npos;
        }
    }
    return true;
}

int ChildProcess::Wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        Drain(10);
    }
    Drain(0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ChildProcess::TakeOutput() {
    std::string taken;
    taken.swap(output);
    return taken;
}

void ChildProcess::Signal(int sig) {
    if (!reaped) kill(pid, sig);
}

int ChildProcess::FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    return ntohs(addr.sin_port);
}

std::string OutputMismatch(const std::string& output, const std::vector<std::string>& present,
                           const std::vector<std::string>& absent) {
    std::string wrong;
    for (const std::string& text : present)
        if (output.find(text) == std::string::npos) wrong += "missing: " + text + "\n";
    for (const std::string& text : absent)
        if (output.find(text) != std::string::npos) wrong += "unexpected: " + text + "\n";
    return wrong;
}
