// The signal watcher in a child process: the first signal only asks for the
// shutdown; when that shutdown hangs, the second ends the process at once with
// the conventional status and a log line.
#include "TerminationSignals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

// Waits up to 10 s for `flag`; the child gives up with status 1 rather than hang.
void WaitFor(const std::atomic<int>& flag) {
    for (int i = 0; i < 10000 && flag.load() == 0; ++i) usleep(1000);
    if (flag.load() == 0) std::exit(1);
}

void SignalTwiceWhileTheShutdownHangs(int sig) {
    TerminationSignals::Block();
    std::atomic<int> firsts{0};
    TerminationSignals signals;
    signals.Start([&firsts](int received) { firsts.store(received); });
    kill(getpid(), sig);
    WaitFor(firsts);
    if (firsts.load() != sig) std::exit(2);
    kill(getpid(), sig);
    sleep(10);  // the orderly shutdown that never ends
    std::exit(3);
}

}  // namespace

TEST(TerminationSignalsDeathTest, SecondSignalEndsAtOnceWith130Or143) {
    // Under qemu-arm the child cannot re-execute the foreign binary: fork in place.
    GTEST_FLAG_SET(death_test_style, std::getenv("ORVANE_TEST_EMULATOR") != nullptr ? "fast" : "threadsafe");
    EXPECT_EXIT(SignalTwiceWhileTheShutdownHangs(SIGINT), ::testing::ExitedWithCode(130),
                "Orvane: second termination signal \\(SIGINT\\) during the shutdown, ending at once with status 130");
    EXPECT_EXIT(SignalTwiceWhileTheShutdownHangs(SIGTERM), ::testing::ExitedWithCode(143),
                "Orvane: second termination signal \\(SIGTERM\\) during the shutdown, ending at once with status 143");
}
