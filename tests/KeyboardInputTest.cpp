#include "KeyboardInput.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

float Jog(KeyboardInput& keys, int i) { return keys.GetChannel().GetJogValue(i); }

}  // namespace

TEST(KeyboardInput, JogKeysStepStopAndReverse) {
    KeyboardInput keys(-1, false);
    for (int i = 0; i < 3; ++i) keys.HandleLine("q");
    EXPECT_FLOAT_EQ(Jog(keys, 0), 30.0f);
    keys.HandleLine("a");
    EXPECT_FLOAT_EQ(Jog(keys, 0), 0.0f);
    keys.HandleLine("y");
    EXPECT_FLOAT_EQ(Jog(keys, 0), -10.0f);

    const char* plus = "qwertz";
    const char* minus = "yxcvbn";
    for (int axis = 1; axis < 6; ++axis) {
        keys.HandleLine(std::string(1, plus[axis]));
        keys.HandleLine(std::string(1, plus[axis]));
        keys.HandleLine(std::string(1, minus[axis]));
        EXPECT_FLOAT_EQ(Jog(keys, axis), 10.0f) << "axis " << axis;
    }
    keys.HandleLine("h");
    EXPECT_FLOAT_EQ(Jog(keys, 5), 0.0f);

    keys.HandleLine("u");
    EXPECT_FLOAT_EQ(Jog(keys, 6), 100.0f);
    keys.HandleLine("m");
    EXPECT_FLOAT_EQ(Jog(keys, 6), -100.0f);
    keys.HandleLine("j");
    EXPECT_FLOAT_EQ(Jog(keys, 6), 0.0f);
    EXPECT_EQ(keys.GetChannel().TakeCommand().code, 0);
}

TEST(KeyboardInput, CommandKeysPostTheirCodes) {
    KeyboardInput keys(-1, false);
    const struct {
        const char* line;
        int code;
    } table[] = {{"5", 2}, {"6", 3}, {"7", 4}, {"1", 10}, {"2", 11}, {"9", 14}, {"0", 13}};
    for (const auto& entry : table) {
        keys.HandleLine(entry.line);
        OperatorCommand c = keys.GetChannel().TakeCommand();
        EXPECT_EQ(c.code, entry.code) << entry.line;
        EXPECT_EQ(c.intArg, 0);
    }
}

TEST(KeyboardInput, OverrideStaysBetweenTenAndHundred) {
    KeyboardInput keys(-1, false);
    EXPECT_EQ(keys.GetOverride(), 40);
    for (int i = 0; i < 8; ++i) keys.HandleLine("o");
    OperatorCommand c = keys.GetChannel().TakeCommand();
    EXPECT_EQ(c.code, 33);
    EXPECT_FLOAT_EQ(c.numArg, 100.0f);
    keys.HandleLine("o");
    EXPECT_FLOAT_EQ(keys.GetChannel().TakeCommand().numArg, 100.0f);

    for (int i = 0; i < 12; ++i) keys.HandleLine("l");
    c = keys.GetChannel().TakeCommand();
    EXPECT_EQ(c.code, 33);
    EXPECT_FLOAT_EQ(c.numArg, 10.0f);
    EXPECT_EQ(keys.GetOverride(), 10);
}

TEST(KeyboardInput, OnlyExactKeysAct) {
    KeyboardInput keys(-1, false);
    for (const char* line : {"qq", " q", "q ", "", "Q", "55", "x5"}) keys.HandleLine(line);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Jog(keys, i), 0.0f);
    EXPECT_EQ(keys.GetChannel().TakeCommand().code, 0);
}

TEST(KeyboardInput, HelpTextListsEveryKeyGroup) {
    const std::string help = KeyboardInput::HelpText();
    EXPECT_EQ(help.rfind("\n\nKeyboard Commands: \n ", 0), 0u);
    EXPECT_NE(help.find("567: Start/Pause/Stop\n "), std::string::npos);
    EXPECT_NE(help.find("ol:  Override +/- \n \n"), std::string::npos);
}

// The reading thread over a pipe: lines (also split across writes, with a
// carriage return) reach the channel, an overlong line does nothing, and end
// of input ends the thread by itself.
TEST(KeyboardInput, ThreadReadsLinesAndEndsAtEndOfInput) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        KeyboardInput keys(fds[0]);
        const std::string input = "q\nq\r\n" + std::string(300, 'q') + "\n9";
        ASSERT_EQ(write(fds[1], input.data(), input.size()), ssize_t(input.size()));
        ASSERT_EQ(write(fds[1], "\n", 1), 1);
        close(fds[1]);
        for (int i = 0; i < 200 && keys.IsRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        EXPECT_FALSE(keys.IsRunning());
        EXPECT_FLOAT_EQ(Jog(keys, 0), 20.0f);
        EXPECT_EQ(keys.GetChannel().TakeCommand().code, 14);
    }
    close(fds[0]);
}

TEST(KeyboardInput, DestructorStopsAThreadWaitingForInput) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        KeyboardInput keys(fds[0]);
        EXPECT_TRUE(keys.IsRunning());
    }
    close(fds[0]);
    close(fds[1]);
}
