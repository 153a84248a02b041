#include "TerminationSignals.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "LogSingleton.h"

namespace {

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void TerminationSignals::Block() {
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::~TerminationSignals() { Stop(); }

void TerminationSignals::Start(std::function<void(int)> onFirst) {
    if (watcher.joinable()) return;
    first = std::move(onFirst);
    stopRequest.store(false);
    watcher = std::thread(&TerminationSignals::Watch, this);
}

void TerminationSignals::Stop() {
    stopRequest.store(true);
    if (watcher.joinable()) watcher.join();
}

void TerminationSignals::Watch() {
    const sigset_t set = TerminationSet();
    // Signals sent to this thread alone would otherwise be lost if the block
    // was never set up (tests); waiting on them needs them blocked here too.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int received = 0;
    while (!stopRequest.load()) {
        const timespec wait{0, 100 * 1000 * 1000};  // bounds how long Stop waits
        const int signal = sigtimedwait(&set, nullptr, &wait);
        if (signal < 0) continue;
        if (++received == 1) {
            if (first) first(signal);
            continue;
        }
        char line[128];
        std::snprintf(line, sizeof line,
                      "Orvane: second termination signal (%s) during the shutdown, ending at once with status %d",
                      signal == SIGINT ? "SIGINT" : "SIGTERM", ExitStatus(signal));
        LogSingleton::instance()->addError(line);
        LogSingleton::instance()->Flush();
        _exit(ExitStatus(signal));
    }
}
