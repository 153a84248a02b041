#include "OperatorChannel.h"

#include <gtest/gtest.h>

#include <thread>

TEST(OperatorChannel, TakeCommandReturnsItOnceAndNewestWins) {
    OperatorChannel channel;
    EXPECT_EQ(channel.TakeCommand().code, 0);
    channel.PostCommand(10);
    channel.PostCommand(33, 4, 55.5f);
    OperatorCommand taken = channel.TakeCommand();
    EXPECT_EQ(taken.code, 33);
    EXPECT_EQ(taken.intArg, 4);
    EXPECT_FLOAT_EQ(taken.numArg, 55.5f);
    EXPECT_EQ(channel.TakeCommand().code, 0);
    EXPECT_EQ(channel.PeekCommand().code, 0);
}

TEST(OperatorChannel, JogValuesIgnoreIndicesOutsideTheNine) {
    OperatorChannel channel;
    channel.SetJogValue(8, 5.0f);
    channel.SetJogValue(9, 7.0f);
    channel.SetJogValue(-1, 7.0f);
    EXPECT_FLOAT_EQ(channel.AddJogValue(8, 10.0f), 15.0f);
    EXPECT_FLOAT_EQ(channel.AddJogValue(12, 10.0f), 0.0f);
    float jog[9];
    channel.GetJogValues(jog);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(jog[i], 0.0f);
    EXPECT_FLOAT_EQ(jog[8], 15.0f);
    channel.ResetJogValues();
    EXPECT_EQ(channel.GetJogValue(8), 0.0f);
}

// Writer and reader on two threads: run under the thread sanitizer, and no
// posted command is lost or taken twice.
TEST(OperatorChannel, ConcurrentPostAndTakeLoseNothing) {
    OperatorChannel channel;
    constexpr int count = 2000;
    int taken = 0;
    std::thread writer([&] {
        for (int i = 1; i <= count; ++i) {
            while (channel.PeekCommand().code != 0) std::this_thread::yield();
            channel.PostCommand(i);
            channel.AddJogValue(0, 1.0f);
        }
    });
    int expected = 1;
    while (expected <= count) {
        OperatorCommand c = channel.TakeCommand();
        if (c.code == 0) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(c.code, expected);
        ++expected;
        ++taken;
    }
    writer.join();
    EXPECT_EQ(taken, count);
    EXPECT_FLOAT_EQ(channel.GetJogValue(0), float(count));
}
