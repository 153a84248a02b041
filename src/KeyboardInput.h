#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "OperatorChannel.h"

// The console: short commands typed on standard input, each ended by Enter,
// become a pending operator command or change the console's jog values.
// The reading thread polls its input so that it can be stopped and joined.
class KeyboardInput {
public:
    static constexpr int maxLineLength = 256;

    // Reads from file descriptor fd (standard input by default); the thread
    // starts at once unless startThread is false (lines then go to HandleLine).
    explicit KeyboardInput(int fd = 0, bool startThread = true);
    // Stops and joins the thread.
    ~KeyboardInput();
    KeyboardInput(const KeyboardInput&) = delete;
    KeyboardInput& operator=(const KeyboardInput&) = delete;

    void printHelp();
    void resetJogValues() { channel.ResetJogValues(); }
    // Acts on one line as typed (without its line end).
    void HandleLine(const std::string& line);
    void Stop();

    OperatorChannel& GetChannel() { return channel; }
    int GetOverride() const { return consoleOverride.load(); }
    bool IsRunning() const { return running.load(); }

    static std::string HelpText();

private:
    void threadKeyboardLoop();

    OperatorChannel channel;
    int inputFd;
    std::atomic<int> consoleOverride{40};
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> running{false};
    std::thread thread;
};
