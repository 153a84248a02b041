#include "PkgDisplay/Display4DS.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "LogSingleton.h"

namespace {

constexpr size_t readChunk = 128;
constexpr int maxReadsPerUpdate = 8;  // 1 KiB a pass, far more than the panel sends

void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

Display4DS::Display4DS()
    : assembler(&Display4DSProtocol::InputFrameLength, 4 * Display4DSProtocol::inputFrameSize) {
    message = Display4DSProtocol::PanelText("testMessage", 24);
}

Display4DS::~Display4DS() {
    Disconnect();
}

void Display4DS::Connect(std::string portText) {
    LogSingleton* log = LogSingleton::instance();
    if (portText.empty()) {
        log->add("Display 4DS: no display port configured, running without operator panel");
        return;
    }
    log->add("Display 4DS: Connecting...");
    log->add(" ");
    open_port(portText);
}

int Display4DS::open_port(std::string portText) {
    LogSingleton* log = LogSingleton::instance();
    Disconnect();
    portName = portText;

    const int fd = ::open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    Settle();
    if (fd < 0) {
        log->addError("Display 4DS: unable to open " + portName);
        log->addError("Display 4DS: Change port in robot ini file? E.g. /dev/ttyO1");
        return resultOpenFailed;
    }
    log->addError("Display 4DS: Open successfull. Now configuring...");

    auto fail = [&](const char* text, int result) {
        log->addError(text);
        ::close(fd);
        return result;
    };
    if (!isatty(fd)) return fail("Error: device is not a tty...", resultNotATty);

    termios config;
    if (tcgetattr(fd, &config) < 0)
        return fail("Display 4DS: Error: cannot get current tty configuration...", resultGetAttributes);

    config.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | ICRNL | INLCR | PARMRK | INPCK | ISTRIP | IXON | IXOFF |
                                IXANY | IGNCR);
    config.c_oflag &= ~tcflag_t(OPOST);
    config.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    config.c_cflag |= tcflag_t(CS8 | CREAD | CLOCAL);
    config.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    config.c_cc[VMIN] = 0;
    config.c_cc[VTIME] = 0;

    if (cfsetispeed(&config, B115200) < 0 || cfsetospeed(&config, B115200) < 0)
        return fail("Display 4DS: Error: cannot set baud rate...", resultBaudRate);
    if (tcsetattr(fd, TCSAFLUSH, &config) < 0)
        return fail("Display 4DS: Error: cannot set new configuration...", resultSetAttributes);

    Settle();
    port = fd;
    connected = true;
    passesWithoutInput = 0;
    assembler.Clear();
    txPending.clear();
    log->add("Display4DS: Successfully connected to " + portName);
    return 0;
}

void Display4DS::Disconnect() {
    if (port >= 0) ::close(port);
    port = -1;
    connected = false;
    txPending.clear();
    assembler.Clear();
}

void Display4DS::lose(const std::string& why) {
    LogSingleton::instance()->addError("Display 4DS: lost the panel on " + portName + " (" + why +
                                       "), display disconnected");
    Disconnect();
    resetJogValues();
}

void Display4DS::SetValues(const DataTypes::RobotState& state) {
    shown = state;
    statusText = state.errorText;
    filterCurrent.GetNewAverage(float(state.currentAll));
    filterSupply.GetNewAverage(float(state.supply));
}

int Display4DS::GetCommand() {
    return channel.TakeCommand().code;
}

float Display4DS::GetJogValue(int index) const {
    return channel.GetJogValue(index);
}

void Display4DS::GetJogValues(float (&out)[jogCount]) const {
    channel.GetJogValues(out);
}

void Display4DS::resetJogValues() {
    channel.ResetJogValues();
}

void Display4DS::HandleInputFrame(const uint8_t* frame, size_t length) {
    Display4DSProtocol::InputFrame in;
    if (!Display4DSProtocol::DecodeInput(frame, length, &in)) return;
    passesWithoutInput = 0;
    override = in.override;
    if (in.keyCode != 0) mode = in.mode;
    float jog[jogCount];
    Display4DSProtocol::MapJogValues(mode, in.axes, jog);
    channel.SetJogValues(jog);
    const Display4DSProtocol::KeyAction action = Display4DSProtocol::DecodeKey(in.keyCode, shown.digitalOut);
    if (action.command != 0) {
        commandParameter = action.parameter;
        if (action.takeOverride) overrideValue = override;
        channel.PostCommand(action.command, commandParameter, float(overrideValue));
    }
}

void Display4DS::readInput() {
    pollfd p{port, POLLIN, 0};
    if (poll(&p, 1, 0) < 0 && errno != EINTR) {
        lose(std::strerror(errno));
        return;
    }
    // A hang-up may come with data still queued: take that first.
    const bool hungUp = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    bool gotFrame = false;
    uint8_t buffer[readChunk];
    for (int i = 0; i < maxReadsPerUpdate && !hungUp; ++i) {
        const ssize_t n = ::read(port, buffer, sizeof buffer);
        if (n > 0) {
            assembler.Feed(buffer, size_t(n), [&](const uint8_t* frame, size_t length) {
                HandleInputFrame(frame, length);
                gotFrame = true;
            });
            if (size_t(n) < sizeof buffer) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose(std::strerror(errno));
            return;
        }
        break;  // nothing more for now
    }
    if (hungUp) {
        lose("hang-up");
        return;
    }
    if (gotFrame) return;
    if (passesWithoutInput < inputTimeoutPasses && ++passesWithoutInput == inputTimeoutPasses) {
        LogSingleton::instance()->addError("Display 4DS: no input from the panel, joystick released");
        resetJogValues();
    }
}

void Display4DS::update() {
    if (!connected) return;
    readInput();
    if (!connected) return;

    LogSingleton* log = LogSingleton::instance();
    std::string text;
    if (log->DisplayGetMessage(&text) == 1) {
        message = text;
        messagePending = true;
    }
    if (log->DisplayGetFilename(&text) == 1) {
        filename = text;
        filenamePending = true;
    }

    // A frame the panel has not taken yet goes out before anything new.
    if (!writePending() || !connected) return;
    if (messagePending)
        SendMessage();
    else if (filenamePending)
        SendFilename();
    else
        SendPosition();
}

void Display4DS::SendMessage() {
    if (!connected || !txPending.empty()) return;
    const auto frame = Display4DSProtocol::EncodeMessage(message);
    queue(frame.data(), frame.size());
    messagePending = false;
}

void Display4DS::SendFilename() {
    if (!connected || !txPending.empty()) return;
    const auto frame = Display4DSProtocol::EncodeFilename(filename);
    queue(frame.data(), frame.size());
    filenamePending = false;
}

void Display4DS::SendPosition() {
    if (!connected || !txPending.empty()) return;
    Display4DSProtocol::PositionExtras extras;
    extras.mode = mode;
    extras.monitoredCurrent = filterCurrent.GetAverage();
    extras.monitoredSupply = filterSupply.GetAverage();
    extras.statusText = statusText;
    const auto frame = Display4DSProtocol::EncodePosition(shown, extras);
    queue(frame.data(), frame.size());
}

void Display4DS::queue(const uint8_t* data, size_t length) {
    txPending.assign(data, data + length);
    writePending();
}

bool Display4DS::writePending() {
    while (connected && !txPending.empty()) {
        const ssize_t n = ::write(port, txPending.data(), txPending.size());
        if (n > 0) {
            byteCount += uint64_t(n);
            txPending.erase(txPending.begin(), txPending.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;  // panel busy: next pass
        lose(n < 0 ? std::strerror(errno) : "write returned nothing");
        return false;
    }
    return connected;
}
