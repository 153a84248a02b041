#include "RealTimeScheduling.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "LogSingleton.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVANE_SANITIZER_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVANE_SANITIZER_BUILD 1
#endif
#endif

namespace {

// Written by Configure before the threads that read them exist.
std::atomic<int> grantedPriority{0};
std::atomic<int> cycleCpu{-1};
cpu_set_t processCpus;
std::atomic<bool> processCpusKnown{false};

constexpr int capIpcLock = 14;
constexpr int capSysNice = 23;
constexpr size_t prefaultBytes = 256 * 1024;

LogSingleton* Log() { return LogSingleton::instance(); }

bool HasCapability(int bit) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 7, "CapEff:") != 0) continue;
        const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
        return (mask >> bit) & 1ULL;
    }
    return false;
}

std::string Limit(int resource, unsigned long long unit) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0) return "unknown";
    if (limit.rlim_cur == RLIM_INFINITY) return "unlimited";
    return std::to_string((unsigned long long)limit.rlim_cur / unit);
}

// "" when SCHED_FIFO at this priority is permitted, else why not. Tries it on
// the calling thread and puts its scheduling back.
std::string ProbeFifo(int priority) {
    int oldPolicy = SCHED_OTHER;
    sched_param oldParam{};
    pthread_getschedparam(pthread_self(), &oldPolicy, &oldParam);
    sched_param param{};
    param.sched_priority = priority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (error == 0) {
        pthread_setschedparam(pthread_self(), oldPolicy, &oldParam);
        return "";
    }
    std::string why = std::strerror(error);
    if (error == EPERM) {
        why += HasCapability(capSysNice) ? "; has CAP_SYS_NICE" : "; no CAP_SYS_NICE";
        why += ", RLIMIT_RTPRIO " + Limit(RLIMIT_RTPRIO, 1);
    }
    return why;
}

// "" when the memory is locked, else why not.
std::string LockMemory() {
#ifdef ORVANE_SANITIZER_BUILD
    return "skipped in a sanitizer build";
#else
    // With a finite limit, locking all future mappings would make later
    // allocations fail once the limit is reached: then better not at all.
    rlimit limit{};
    if (!HasCapability(capIpcLock) && getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        return "no CAP_IPC_LOCK, RLIMIT_MEMLOCK " + Limit(RLIMIT_MEMLOCK, 1024) + " kB";
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) return std::string("mlockall: ") + std::strerror(errno);
    return "";
#endif
}

bool SetFifo(int priority, std::string* problem) {
    sched_param param{};
    param.sched_priority = priority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (error != 0) *problem = std::strerror(error);
    return error == 0;
}

// Touches the pages below the current frame, so the cycle's first calls do
// not fault them in.
__attribute__((noinline)) void PrefaultStack() {
    volatile unsigned char stack[prefaultBytes];
    for (size_t i = 0; i < prefaultBytes; i += 4096) stack[i] = 0;
    asm volatile("" : : "r"(stack) : "memory");  // keeps the stores
}

std::string Quote(const char* text) {
    std::string quoted;
    const size_t limit = 32;
    size_t i = 0;
    for (; text[i] != '\0' && i < limit; ++i) {
        const unsigned char c = (unsigned char)text[i];
        quoted += (c >= 0x20 && c < 0x7f) ? char(c) : '?';
    }
    if (text[i] != '\0') quoted += "...";
    return "\"" + quoted + "\"";
}

}  // namespace

bool RealTimeScheduling::ParseSetting(const char* name, const char* text, int lo, int hi, int* out,
                                      std::string* problem) {
    const size_t length = std::strlen(text);
    bool digits = length > 0 && length <= 6;
    for (size_t i = 0; digits && i < length; ++i) digits = text[i] >= '0' && text[i] <= '9';
    const long value = digits ? std::strtol(text, nullptr, 10) : -1;
    if (!digits || value < lo || value > hi) {
        *problem = std::string(name) + "=" + Quote(text) + " is not a number " + std::to_string(lo) + " ... " +
                   std::to_string(hi);
        return false;
    }
    *out = int(value);
    return true;
}

RealTimeScheduling::Settings RealTimeScheduling::FromEnvironment() {
    Settings settings;
    std::string problem;
    if (const char* text = std::getenv("ORVANE_RT_PRIORITY")) {
        if (!ParseSetting("ORVANE_RT_PRIORITY", text, 0, maxPriority, &settings.priority, &problem))
            Log()->add("Real-time: " + problem + "; using priority " + std::to_string(defaultPriority));
    }
    if (const char* text = std::getenv("ORVANE_CPU")) {
        long cpus = sysconf(_SC_NPROCESSORS_CONF);
        if (cpus < 1) cpus = 1;
        if (cpus > CPU_SETSIZE) cpus = CPU_SETSIZE;
        if (!ParseSetting("ORVANE_CPU", text, 0, int(cpus - 1), &settings.cpu, &problem))
            Log()->add("Real-time: " + problem + "; the robot cycle thread is not pinned");
    }
    return settings;
}

void RealTimeScheduling::Configure(const Settings& settings) {
    if (sched_getaffinity(0, sizeof processCpus, &processCpus) == 0) processCpusKnown.store(true);
    cycleCpu.store(settings.cpu);
    const std::string pinned =
        settings.cpu >= 0 ? ", robot cycle thread on CPU " + std::to_string(settings.cpu) : std::string();

    if (settings.priority <= 0) {
        grantedPriority.store(0);
        Log()->add("Real-time: off (ORVANE_RT_PRIORITY=0): normal scheduling (SCHED_OTHER), memory not locked" +
                   pinned);
        return;
    }
    const int priority = settings.priority > maxPriority ? maxPriority : settings.priority;
    const int receive = priority > 1 ? priority - 1 : 1;
    const std::string fifoProblem = ProbeFifo(priority);
    const std::string lockProblem = LockMemory();
    grantedPriority.store(fifoProblem.empty() ? priority : 0);

    std::string line = "Real-time: ";
    if (fifoProblem.empty()) {
        line += "robot cycle SCHED_FIFO priority " + std::to_string(priority) + ", CAN receive SCHED_FIFO priority " +
                std::to_string(receive);
    } else {
        line += "could not get SCHED_FIFO priority " + std::to_string(priority) + " (" + fifoProblem +
                "): the robot cycle and the CAN receive thread run with normal scheduling (SCHED_OTHER)";
    }
    line += pinned;
    if (lockProblem.empty()) {
        line += "; memory locked";
    } else {
        line += "; could not lock the memory (" + lockProblem + "): page faults may delay cycles";
    }
    Log()->add(line);
}

void RealTimeScheduling::EnterCycleThread() {
    const int priority = grantedPriority.load();
    std::string problem;
    if (priority > 0 && !SetFifo(priority, &problem))
        Log()->add("Real-time: the robot cycle thread could not get SCHED_FIFO priority " + std::to_string(priority) +
                   " (" + problem + "); it runs with normal scheduling (SCHED_OTHER)");
    const int cpu = cycleCpu.load();
    if (cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        const int error = pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        if (error != 0)
            Log()->add("Real-time: could not pin the robot cycle thread to CPU " + std::to_string(cpu) + " (" +
                       std::strerror(error) + ")");
    }
    PrefaultStack();
}

void RealTimeScheduling::EnterReceiveThread() {
    const int priority = grantedPriority.load();
    if (priority <= 0) return;
    const int receive = priority > 1 ? priority - 1 : 1;
    std::string problem;
    if (!SetFifo(receive, &problem))
        Log()->add("Real-time: the CAN receive thread could not get SCHED_FIFO priority " + std::to_string(receive) +
                   " (" + problem + "); it runs with normal scheduling (SCHED_OTHER)");
}

void RealTimeScheduling::EnterNormalThread() {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) == 0 && policy != SCHED_OTHER) {
        param.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
    // A thread started by the pinned cycle thread would share its CPU.
    if (cycleCpu.load() >= 0 && processCpusKnown.load())
        pthread_setaffinity_np(pthread_self(), sizeof processCpus, &processCpus);
}

std::string RealTimeScheduling::DescribeThisThread() {
    int policy = SCHED_OTHER;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    switch (policy) {
        case SCHED_FIFO:
            return "SCHED_FIFO priority " + std::to_string(param.sched_priority);
        case SCHED_RR:
            return "SCHED_RR priority " + std::to_string(param.sched_priority);
        case SCHED_OTHER:
            return "normal scheduling (SCHED_OTHER)";
        default:
            return "scheduling policy " + std::to_string(policy);
    }
}
