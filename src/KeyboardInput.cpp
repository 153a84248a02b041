#include "KeyboardInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

#include "LogSingleton.h"

KeyboardInput::KeyboardInput(int fd, bool startThread) : inputFd(fd) {
    if (startThread) {
        running.store(true);
        thread = std::thread(&KeyboardInput::threadKeyboardLoop, this);
    }
}

KeyboardInput::~KeyboardInput() { Stop(); }

void KeyboardInput::Stop() {
    stopFlag.store(true);
    if (thread.joinable()) thread.join();
}

std::string KeyboardInput::HelpText() {
    return std::string("\n\nKeyboard Commands: \n ") + "1: Load Joint Values and Reset \n " + "2: Enable Motors \n " +
           "567: Start/Pause/Stop\n " + "9: Change motion mode Joint/Cart \n " + "0: Set Joints to Zero \n " +
           "qay: Joint 0 \n " + "wsx: Joint 1 \n " + "edc: Joint 2 \n " + "rfv: Joint 3 \n " + "tgb: Joint 4 \n " +
           "zhn: Joint 5 \n " + "ujm: Gripper \n " + "ol:  Override +/- \n " + "\n";
}

void KeyboardInput::printHelp() { std::cout << HelpText() << std::flush; }

void KeyboardInput::HandleLine(const std::string& line) {
    if (line.empty()) return;
    std::cout << "You entered: \"" << line << "\"" << std::endl;
    if (line.size() != 1) return;

    // Jog keys: three per axis (plus, stop, minus).
    static const char* const jogKeys[6] = {"qay", "wsx", "edc", "rfv", "tgb", "zhn"};
    const char key = line[0];
    for (int axis = 0; axis < 6; ++axis) {
        const char* keys = jogKeys[axis];
        if (key == keys[0]) {
            channel.AddJogValue(axis, 10.0f);
            return;
        }
        if (key == keys[1]) {
            channel.SetJogValue(axis, 0.0f);
            if (key == 'h') printHelp();
            return;
        }
        if (key == keys[2]) {
            channel.AddJogValue(axis, -10.0f);
            return;
        }
    }

    switch (key) {
        case '5': channel.PostCommand(2); break;
        case '6': channel.PostCommand(3); break;
        case '7': channel.PostCommand(4); break;
        case '1': channel.PostCommand(10); break;
        case '2': channel.PostCommand(11); break;
        case '9': channel.PostCommand(14); break;
        case '0': channel.PostCommand(13, 0); break;
        case 'o': {
            int value = consoleOverride.load() + 10;
            if (value > 100) value = 100;
            consoleOverride.store(value);
            channel.PostCommand(33, 0, float(value));
            break;
        }
        case 'l': {
            int value = consoleOverride.load() - 10;
            if (value < 10) value = 10;
            consoleOverride.store(value);
            channel.PostCommand(33, 0, float(value));
            break;
        }
        case 'u': channel.SetJogValue(6, 100.0f); break;
        case 'j': channel.SetJogValue(6, 0.0f); break;
        case 'm': channel.SetJogValue(6, -100.0f); break;
        default: break;
    }
}

void KeyboardInput::threadKeyboardLoop() {
    LogSingleton::instance()->add("KeyboardInput started");
    std::string line;
    bool overlong = false;
    char buffer[128];
    while (!stopFlag.load()) {
        pollfd pfd{inputFd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, 100);
        if (ready < 0) {
            if (errno == EINTR) continue;
            LogSingleton::instance()->addError(std::string("KeyboardInput: cannot read input: ") + std::strerror(errno));
            break;
        }
        if (ready == 0) continue;

        ssize_t n = ::read(inputFd, buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            LogSingleton::instance()->addError(std::string("KeyboardInput: cannot read input: ") + std::strerror(errno));
            break;
        }
        if (n == 0) {
            // Run as a service: nothing more will ever be typed.
            LogSingleton::instance()->add("KeyboardInput: end of input, console stopped");
            break;
        }
        for (ssize_t i = 0; i < n && !stopFlag.load(); ++i) {
            char c = buffer[i];
            if (c != '\n') {
                if (line.size() < size_t(maxLineLength)) {
                    line.push_back(c);
                } else {
                    overlong = true;
                }
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (overlong) {
                std::cout << "You entered: \"" << line << "...\" (too long, ignored)" << std::endl;
            } else {
                HandleLine(line);
            }
            line.clear();
            overlong = false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    running.store(false);
}
