#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <string>
#include <thread>

#include "RealTimeScheduling.h"

// The environment settings: whole numbers in range, anything else refused
// with a bounded quote of what was given.
TEST(RealTimeScheduling, SettingsAreWholeNumbersInRange) {
    int value = -7;
    std::string problem;
    EXPECT_TRUE(RealTimeScheduling::ParseSetting("ORVANE_RT_PRIORITY", "0", 0, 99, &value, &problem));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(RealTimeScheduling::ParseSetting("ORVANE_RT_PRIORITY", "99", 0, 99, &value, &problem));
    EXPECT_EQ(value, 99);
    EXPECT_TRUE(problem.empty());

    const struct {
        const char* text;
        const char* problem;
    } refused[] = {
        {"100", "ORVANE_CPU=\"100\" is not a number 0 ... 99"},
        {"", "ORVANE_CPU=\"\" is not a number 0 ... 99"},
        {"-1", "ORVANE_CPU=\"-1\" is not a number 0 ... 99"},
        {" 5", "ORVANE_CPU=\" 5\" is not a number 0 ... 99"},
        {"8O", "ORVANE_CPU=\"8O\" is not a number 0 ... 99"},
        {"99999999999999999999", "ORVANE_CPU=\"99999999999999999999\" is not a number 0 ... 99"},
        {"high\npriority", "ORVANE_CPU=\"high?priority\" is not a number 0 ... 99"},
        {"0123456789abcdefghijklmnopqrstuvwxyz", "ORVANE_CPU=\"0123456789abcdefghijklmnopqrstuv...\" is not a number 0 ... 99"},
    };
    for (const auto& r : refused) {
        value = -7;
        EXPECT_FALSE(RealTimeScheduling::ParseSetting("ORVANE_CPU", r.text, 0, 99, &value, &problem)) << r.text;
        EXPECT_EQ(problem, r.problem);
        EXPECT_EQ(value, -7);
    }
}

// Without Configure (tests, tools) every role keeps normal scheduling; a
// thread that inherited real-time scheduling (a planning worker started by
// the cycle) gives it up.
TEST(RealTimeScheduling, OnlyConfiguredRolesGetRealTimeScheduling) {
    std::string cycle, receive, worker;
    bool inherited = false;
    std::thread([&] {
        RealTimeScheduling::EnterCycleThread();
        cycle = RealTimeScheduling::DescribeThisThread();
        RealTimeScheduling::EnterReceiveThread();
        receive = RealTimeScheduling::DescribeThisThread();
        sched_param param{};
        param.sched_priority = 1;
        inherited = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
        RealTimeScheduling::EnterNormalThread();
        worker = RealTimeScheduling::DescribeThisThread();
    }).join();
    EXPECT_EQ(cycle, "normal scheduling (SCHED_OTHER)");
    EXPECT_EQ(receive, "normal scheduling (SCHED_OTHER)");
    if (inherited) {
        EXPECT_EQ(worker, "normal scheduling (SCHED_OTHER)");
    }
}
