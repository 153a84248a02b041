#include "PkgDisplay/DisplayEDIP.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "LogSingleton.h"

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t DC1 = 0x11;
constexpr uint8_t DC2 = 0x12;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr int writeTimeoutMs = 100;

uint8_t Coord(int v) {
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void AppendText(std::vector<uint8_t>& bytes, const std::string& text) {
    for (char c : text) bytes.push_back(uint8_t(c));
    bytes.push_back(0x00);  // strings end with NUL
}

// ESC 'A' 'T' (key) or ESC 'A' 'K' (switch key) with a centred label.
std::vector<uint8_t> TouchKey(char kind, int x1, int y1, int x2, int y2, int down, int up,
                              const std::string& label) {
    std::vector<uint8_t> bytes{ESC, 'A', uint8_t(kind), Coord(x1), Coord(y1), Coord(x2), Coord(y2),
                               uint8_t(down), uint8_t(up), 'C'};
    AppendText(bytes, label);
    return bytes;
}

void SleepMicroseconds(int us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace

DisplayEDIP::DisplayEDIP(std::string devicePath) : device(std::move(devicePath)) {}

DisplayEDIP::~DisplayEDIP() {
    Disconnect();
}

void DisplayEDIP::Connect() {
    LogSingleton::instance()->add("Display: Connecting...");
    open_port();
    clearJogValues();
    command = 0;
    alivePhase = 0;
    jointCountInUse = jointCount;
    refreshInterval = 30;
    refreshCount = 0;
    if (!connected) return;
    SendData({ESC, 'T', 'A'});  // terminal off
    sendScreenKeys();
    sendStartUpMessage();
}

int DisplayEDIP::open_port() {
    LogSingleton* log = LogSingleton::instance();
    Disconnect();
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        log->addError("Display: unable to open " + device);
        return -1;
    }
    termios config;
    if (!isatty(fd) || tcgetattr(fd, &config) < 0) {
        log->addError("Display: " + device + " is not a configurable serial port");
        ::close(fd);
        return -1;
    }
    // The descriptor stays non-blocking: writes are bounded by a poll instead,
    // so a display that stops taking data cannot hang the caller.
    cfsetispeed(&config, B115200);
    cfsetospeed(&config, B115200);
    config.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    config.c_cflag |= tcflag_t(CS8 | CREAD | CLOCAL);
    config.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                ICRNL);
    config.c_oflag &= ~tcflag_t(OPOST);
    config.c_lflag &= ~tcflag_t(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
    config.c_cc[VMIN] = 0;
    config.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &config) < 0) {
        log->addError("Display: cannot configure " + device);
        ::close(fd);
        return -1;
    }
    port = fd;
    connected = true;
    log->add("Display: Successfully connected to " + device);
    return 0;
}

void DisplayEDIP::Disconnect() {
    if (port >= 0) ::close(port);
    port = -1;
    connected = false;
}

void DisplayEDIP::lose(const std::string& why) {
    LogSingleton::instance()->addError("Display: lost the display on " + device + " (" + why +
                                       "), display disconnected");
    Disconnect();
    // A jog key held when the link broke must not keep the joint moving.
    clearJogValues();
}

void DisplayEDIP::clearJogValues() {
    for (float& v : jogValues) v = 0.0f;
}

int DisplayEDIP::GetCommand() {
    const int pending = command;
    command = 0;
    return pending;
}

float DisplayEDIP::GetJogValue(int joint) const {
    return joint >= 0 && joint < jointCount ? jogValues[joint] : 0.0f;
}

float DisplayEDIP::GetJointValue(int joint) const {
    return joint >= 0 && joint < jointCount ? jointValues[joint] : 0.0f;
}

void DisplayEDIP::SetValues(const DataTypes::RobotState& state) {
    for (int i = 0; i < jointCountInUse && i < jointCount; ++i) jointValues[i] = state.jointSetPoint[i];
}

// --- Framing ---

uint8_t DisplayEDIP::Checksum(uint8_t lead, const uint8_t* payload, size_t length) {
    unsigned sum = unsigned(lead) + unsigned(length);
    for (size_t i = 0; i < length; ++i) sum += payload[i];
    return uint8_t(sum & 0xFF);
}

std::vector<uint8_t> DisplayEDIP::Frame(const std::vector<uint8_t>& payload) {
    if (payload.size() > maxPayload) return {};
    std::vector<uint8_t> frame;
    frame.reserve(payload.size() + 5);
    frame.push_back(DC1);
    frame.push_back(uint8_t(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(Checksum(DC1, payload.data(), payload.size()));
    frame.push_back(0x0A);
    frame.push_back(0x0D);
    return frame;
}

std::vector<uint8_t> DisplayEDIP::RequestFrame() {
    const uint8_t request = 'S';
    return {DC2, 0x01, request, Checksum(DC2, &request, 1)};
}

bool DisplayEDIP::AnswerPayload(const uint8_t* data, size_t length, std::vector<uint8_t>* payload) {
    size_t i = 0;
    while (i < length && data[i] == ACK) ++i;
    if (i < length && data[i] == NAK) return false;
    if (i >= length || data[i] != DC1) {
        payload->assign(data, data + length);  // not framed: scan it as it is
        return true;
    }
    if (i + 2 > length) return false;
    const size_t count = data[i + 1];
    if (i + 2 + count + 1 > length) return false;
    const uint8_t* body = data + i + 2;
    if (Checksum(DC1, body, count) != body[count]) return false;
    payload->assign(body, body + count);
    return true;
}

bool DisplayEDIP::SendData(const std::vector<uint8_t>& payload) {
    if (!connected) return false;
    const std::vector<uint8_t> frame = Frame(payload);
    if (frame.empty()) {
        LogSingleton::instance()->addError("Display: command of " + std::to_string(payload.size()) +
                                           " bytes too long, not sent");
        return false;
    }
    SleepMicroseconds(500);
    writeBounded(frame);
    SleepMicroseconds(2000);
    return connected;
}

void DisplayEDIP::writeBounded(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(writeTimeoutMs);
    while (connected && done < bytes.size()) {
        const ssize_t n = ::write(port, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose(std::strerror(errno));
            return;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            lose("display does not take data");
            return;
        }
        pollfd p{port, POLLOUT, 0};
        poll(&p, 1, int(left.count()));
    }
}

// --- Touch events ---

void DisplayEDIP::readBuffer() {
    if (!connected) return;
    pollfd p{port, POLLIN, 0};
    poll(&p, 1, 0);
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        lose("hang-up");
        return;
    }
    writeBounded(RequestFrame());
    if (!connected) return;
    SleepMicroseconds(500);
    uint8_t answer[readSize];
    const ssize_t n = ::read(port, answer, sizeof answer);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        lose(std::strerror(errno));
        return;
    }
    if (n < 4) return;
    std::vector<uint8_t> payload;
    if (!AnswerPayload(answer, size_t(n), &payload)) return;
    HandleEvents(payload.data(), payload.size());
}

void DisplayEDIP::HandleEvents(const uint8_t* data, size_t length) {
    size_t i = 0;
    while (i + 1 < length) {
        if (data[i] != ESC) {
            ++i;
            continue;
        }
        if (data[i + 1] == 'A' && i + 3 < length) {  // ESC 'A' count code
            touchKey(data[i + 3]);
            i += 4;
        } else if (data[i + 1] == 'B' && i + 4 < length) {  // ESC 'B' a b value
            const int a = data[i + 2], b = data[i + 3], v = data[i + 4];
            std::cout << "bar: " << a << " " << b << " " << v << std::endl;
            override = v;
            command = 33;
            i += 5;
        } else {
            ++i;
        }
    }
}

void DisplayEDIP::switchScreen(int newScreen) {
    clearJogValues();
    clearDisplay();
    sendScreenKeys();
    initGeneral();
    if (newScreen == screenGeneral) initEnable();
    if (newScreen == screenJog) initJogJoint();
    if (newScreen == screenProgram) initProgram();
    SetOverride(override);
    screen = newScreen;
}

void DisplayEDIP::touchKey(int code) {
    switch (code) {
        case 0x71: switchScreen(screenGeneral); return;
        case 0x73: switchScreen(screenJog); return;
        case 0x75: switchScreen(screenProgram); return;
        default: break;
    }
    if (screen == screenGeneral) {
        if (code == 0x21) command = 10;
        if (code == 0x23) command = 11;
        if (code == 0x25) command = 13;
    } else if (screen == screenJog) {
        if (code >= 1 && code <= 11 && code % 2 == 1) {
            const int joint = (code - 1) / 2;
            if (joint != activeJoint) {
                clearJogValues();
                SendData({ESC, 'A', 'P', uint8_t(2 * activeJoint + 1), 0});  // release the old key
            }
            SetActiveJoint(joint);
        } else if (code == 0x11) {
            jogValues[activeJoint] = -100.0f;
        } else if (code == 0x13) {
            jogValues[activeJoint] = 100.0f;
        } else if (code == 0x12 || code == 0x14) {
            jogValues[activeJoint] = 0.0f;
        }
    } else if (screen == screenProgram) {
        if (code == 0x35) command = 2;
        if (code == 0x37) command = 3;
        if (code == 0x39) command = 4;
    }
}

// --- Screen content ---

std::string DisplayEDIP::convertDtoC(float value) {
    const float scaled = value * 10.0f;
    // Six characters hold at most three digits before the point.
    if (std::isnan(scaled) || std::fabs(scaled) >= 10000.0f) return "######";
    const long tenths = long(std::trunc(scaled));
    const long magnitude = tenths < 0 ? -tenths : tenths;
    std::string text = std::to_string(magnitude / 10) + "." + std::to_string(magnitude % 10);
    if (tenths < 0) text = "-" + text;
    return std::string(6 - text.size(), ' ') + text;
}

void DisplayEDIP::sendText(int x, int y, const std::string& text) {
    std::vector<uint8_t> bytes{ESC, 'Z', 'C', Coord(x), Coord(y)};
    AppendText(bytes, text);
    SendData(bytes);
}

void DisplayEDIP::sendDouble(float value, int x, int y) {
    sendText(x, y, convertDtoC(value));
}

void DisplayEDIP::sendAliveSign(int x, int y) {
    switch (alivePhase) {
        case 0: sendText(x, y, "\\|"); break;
        case 2: sendText(x, y, "/"); break;
        case 4: sendText(x, y, "-"); break;
        case 6: sendText(x, y, "\\\\"); break;
        default: break;
    }
}

void DisplayEDIP::sendStatus(int x, int y) {
    sendText(x, y, "Ovr " + std::to_string(override) + "%");
}

void DisplayEDIP::sendStartUpMessage() {
    SendData({ESC, 'Z', 'F', 4});
    sendText(70, 35, "Robot Control");
    sendText(70, 60, "Orvane");
}

void DisplayEDIP::sendScreenKeys() {
    SendData({ESC, 'A', 'F', 4});   // touch key font
    SendData({ESC, 'A', 'E', 11});  // touch key frame
    SendData(TouchKey('K', 142, 0, 165, 33, 0x71, 0x72, "E"));
    SendData(TouchKey('K', 142, 34, 165, 67, 0x73, 0x74, "J"));
    SendData(TouchKey('K', 142, 68, 165, 107, 0x75, 0x76, "P"));
}

void DisplayEDIP::clearDisplay() {
    SendData({ESC, 'D', 'L'});
    SendData({ESC, 'A', 'L', 0, 1});  // forget the old touch areas with the picture
}

void DisplayEDIP::initGeneral() {
    SendData({ESC, 'B', 'O', 1, 115, 5, 135, 100, 0, 100, 1, 1});
}

void DisplayEDIP::initEnable() {
    SendData(TouchKey('T', 5, 20, 47, 40, 0x21, 0x22, "Reset"));
    SendData(TouchKey('T', 5, 45, 47, 65, 0x23, 0x24, "Enable"));
    SendData(TouchKey('T', 5, 70, 47, 90, 0x25, 0x26, "Zero"));
}

void DisplayEDIP::initJogJoint() {
    static const int boxes[jointCount][4] = {{0, 18, 20, 35},  {0, 37, 20, 54},  {0, 56, 20, 73},
                                             {55, 18, 75, 35}, {55, 37, 75, 54}, {55, 56, 75, 73}};
    for (int j = 0; j < jointCount; ++j) {
        SendData(TouchKey('K', boxes[j][0], boxes[j][1], boxes[j][2], boxes[j][3], 2 * j + 1, 2 * j + 2,
                          "A" + std::to_string(j + 1)));
    }
    SendData(TouchKey('T', 0, 77, 47, 102, 0x11, 0x12, "-"));
    SendData(TouchKey('T', 58, 77, 105, 102, 0x13, 0x14, "+"));
    SetActiveJoint(activeJoint);
}

void DisplayEDIP::initProgram() {
    SendData(TouchKey('T', 5, 20, 47, 40, 0x31, 0x32, "Refresh"));
    SendData(TouchKey('T', 5, 45, 47, 65, 0x33, 0x34, "Load"));
    SendData(TouchKey('T', 5, 80, 35, 95, 0x35, 0x36, "Start"));
    SendData(TouchKey('T', 40, 80, 70, 95, 0x37, 0x38, "Pause"));
    SendData(TouchKey('T', 75, 80, 105, 95, 0x39, 0x3A, "Stop"));
}

void DisplayEDIP::SetOverride(int value) {
    override = value;
    SendData({ESC, 'B', 'A', 1, uint8_t(value < 0 ? 0 : (value > 100 ? 100 : value))});
}

void DisplayEDIP::SetActiveJoint(int joint) {
    if (joint < 0 || joint >= jointCount) return;
    activeJoint = joint;
    SendData({ESC, 'A', 'P', uint8_t(2 * joint + 1), 1});
}

void DisplayEDIP::update() {
    readBuffer();
    if (!connected) return;
    sendAliveSign(153, 116);
    alivePhase = (alivePhase + 1) % 7;
    if (++refreshCount < refreshInterval) return;
    refreshCount = 0;
    if (screen == screenJog) {
        // Each value beside its joint key: A1-A3 on the left, A4-A6 on the right.
        static const int places[jointCount][2] = {{37, 21}, {37, 40}, {37, 59}, {97, 21}, {97, 40}, {97, 59}};
        for (int j = 0; j < jointCount; ++j) sendDouble(jointValues[j], places[j][0], places[j][1]);
    } else if (screen == screenGeneral) {
        sendStatus(80, 30);
    }
}
