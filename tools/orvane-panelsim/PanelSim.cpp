#include "PanelSim.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Decimal or 0x-prefixed number in [lo, hi].
bool ParseNumber(const std::string& text, long lo, long hi, long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

const char* helpText =
    "commands:\n"
    "  axis I B      axis I (0-8) to raw byte B (0-255, 128 = centre)\n"
    "  jog I P       axis I to the byte that decodes as P percent (-100 ... 100)\n"
    "  center        all axes to 128\n"
    "  mode M        mode byte (the controller takes it with the next key)\n"
    "  override V    override byte in percent\n"
    "  key K         key code K (e.g. 0x1E) in the next frame only\n"
    "  raw HEX...    send these bytes as they are\n"
    "  pause|resume  stop or restart sending input frames\n"
    "  pos           print the last position frame\n"
    "  quit\n";

}  // namespace

PanelSim::PanelSim(const Options& opts)
    : options(opts), assembler(&Display4DSProtocol::OutputFrameLength, 2 * Display4DSProtocol::positionFrameSize) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) throw std::runtime_error("pseudo-terminal has no name");
    devicePath = name;
    // Raw from the start: the controller configures the line only when it
    // connects, and frames sent before must not be echoed or translated.
    termios config;
    if (tcgetattr(master, &config) == 0) {
        cfmakeraw(&config);
        tcsetattr(master, TCSANOW, &config);
    }
    slaveHold = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

PanelSim::~PanelSim() {
    if (slaveHold >= 0) ::close(slaveHold);
    if (master >= 0) ::close(master);
}

uint8_t PanelSim::AxisByteFor(int percent) {
    if (percent > 100) percent = 100;
    if (percent < -100) percent = -100;
    if (percent > 0) return uint8_t(148 + percent > 255 ? 255 : 148 + percent);
    if (percent < 0) return uint8_t(108 + percent < 0 ? 0 : 108 + percent);
    return 128;
}

bool PanelSim::Command(const std::string& line, std::ostream& out) {
    std::istringstream in(line);
    std::string word;
    if (!(in >> word)) return true;
    std::vector<std::string> args;
    for (std::string a; in >> a && args.size() < 64;) args.push_back(a);
    long a = 0, b = 0;
    auto bad = [&](const char* usage) { out << "error: usage: " << usage << std::endl; };

    if (word == "quit") return false;
    if (word == "help") {
        out << helpText << std::flush;
    } else if (word == "axis") {
        if (args.size() != 2 || !ParseNumber(args[0], 0, 8, &a) || !ParseNumber(args[1], 0, 255, &b))
            return bad("axis I(0-8) B(0-255)"), true;
        frame.axes[a] = uint8_t(b);
        out << "ok" << std::endl;
    } else if (word == "jog") {
        if (args.size() != 2 || !ParseNumber(args[0], 0, 8, &a) || !ParseNumber(args[1], -100, 100, &b))
            return bad("jog I(0-8) P(-100...100)"), true;
        frame.axes[a] = AxisByteFor(int(b));
        out << "ok" << std::endl;
    } else if (word == "center") {
        for (uint8_t& axis : frame.axes) axis = 128;
        out << "ok" << std::endl;
    } else if (word == "mode") {
        if (args.size() != 1 || !ParseNumber(args[0], 0, 255, &a)) return bad("mode M(0-255)"), true;
        frame.mode = uint8_t(a);
        out << "ok" << std::endl;
    } else if (word == "override") {
        if (args.size() != 1 || !ParseNumber(args[0], 0, 255, &a)) return bad("override V(0-255)"), true;
        frame.override = uint8_t(a);
        out << "ok" << std::endl;
    } else if (word == "key") {
        if (args.size() != 1 || !ParseNumber(args[0], 1, 255, &a)) return bad("key K(1-255)"), true;
        pendingKey = uint8_t(a);
        out << "ok" << std::endl;
    } else if (word == "raw") {
        std::vector<uint8_t> bytes;
        for (const std::string& s : args) {
            if (!ParseNumber(s.rfind("0x", 0) == 0 ? s : "0x" + s, 0, 255, &a)) return bad("raw HEX..."), true;
            bytes.push_back(uint8_t(a));
        }
        rawPending.insert(rawPending.end(), bytes.begin(), bytes.end());
        out << "ok" << std::endl;
    } else if (word == "pause" || word == "resume") {
        sending = word == "resume";
        out << "ok" << std::endl;
    } else if (word == "pos") {
        Display4DSProtocol::PositionFrame pos;
        if (!lastPosition.empty() && Display4DSProtocol::DecodePosition(lastPosition.data(), lastPosition.size(), &pos))
            out << FormatPosition(pos) << std::endl;
        else
            out << "no position frame yet" << std::endl;
    } else {
        out << "error: unknown command \"" << word << "\" (try help)" << std::endl;
    }
    return true;
}

void PanelSim::SendFrame() {
    if (!rawPending.empty()) {
        const ssize_t n = ::write(master, rawPending.data(), rawPending.size());
        if (n > 0) rawPending.erase(rawPending.begin(), rawPending.begin() + n);
    }
    if (!sending) return;
    Display4DSProtocol::InputFrame next = frame;
    next.keyCode = pendingKey;
    const auto bytes = Display4DSProtocol::EncodeInput(next);
    const ssize_t n = ::write(master, bytes.data(), bytes.size());
    if (n == ssize_t(bytes.size())) {
        pendingKey = 0;  // the key went out in exactly one frame
        ++framesSent;
    }
    // A frame not taken (controller not attached) is simply dropped: the
    // next one carries the same state.
}

void PanelSim::ReadController() {
    uint8_t buffer[512];
    for (int i = 0; i < 16; ++i) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) return;
        assembler.Feed(buffer, size_t(n), [this](const uint8_t* f, size_t len) { OnFrame(f, len); });
    }
}

void PanelSim::OnFrame(const uint8_t* data, size_t length) {
    std::string text;
    if (length == size_t(Display4DSProtocol::positionFrameSize)) {
        Display4DSProtocol::PositionFrame pos;
        if (!Display4DSProtocol::DecodePosition(data, length, &pos)) {
            std::cout << "BAD position frame" << std::endl;
            return;
        }
        lastPosition.assign(data, data + length);
        PrintPosition();
    } else if (Display4DSProtocol::DecodeText(data, length, &text)) {
        std::cout << (data[1] == 0x02 ? "MESSAGE " : "FILENAME ") << text << std::endl;
    } else {
        std::cout << "BAD frame of " << length << " bytes" << std::endl;
    }
}

void PanelSim::PrintPosition() {
    if (!options.printPositions || lastPosition.empty() || lastPosition == printedPosition) return;
    const long long now = NowMs();
    if (now - lastPrintMs < options.positionMs) return;
    Display4DSProtocol::PositionFrame pos;
    Display4DSProtocol::DecodePosition(lastPosition.data(), lastPosition.size(), &pos);
    std::cout << FormatPosition(pos) << std::endl;
    printedPosition = lastPosition;
    lastPrintMs = now;
}

std::string PanelSim::FormatPosition(const Display4DSProtocol::PositionFrame& p) {
    std::ostringstream out;
    char number[32];
    out << "POSITION";
    for (float v : p.position) {
        std::snprintf(number, sizeof number, " %.1f", double(v));
        out << number;
    }
    out << " | err";
    for (int e : p.jointError) out << ' ' << e;
    out << " | kin " << p.kinState << " estop " << p.emergencyStop << " ref " << p.referenceState;
    std::snprintf(number, sizeof number, "0x%04x", unsigned(p.referencedBits));
    out << " refbits " << number;
    out << " prog " << p.programPoint << '/' << p.programCount << '/' << p.programRunning;
    out << " ovr " << p.override << " grip " << p.gripper << " current " << p.currentAll << " supply " << p.supply;
    std::snprintf(number, sizeof number, "%016llx", static_cast<unsigned long long>(p.digitalIn));
    out << " in " << number;
    std::snprintf(number, sizeof number, "%016llx", static_cast<unsigned long long>(p.digitalOut));
    out << " out " << number;
    out << " | " << p.text;
    return out.str();
}

int PanelSim::Run(const volatile std::sig_atomic_t& stop) {
    std::string pendingLine;
    bool inputOpen = true;
    long long nextFrame = NowMs();
    while (!stop) {
        const long long now = NowMs();
        if (now >= nextFrame) {
            SendFrame();
            nextFrame = now + options.periodMs;
        }
        PrintPosition();  // a change held back by the print interval
        pollfd fds[2] = {{master, POLLIN, 0}, {inputOpen ? 0 : -1, POLLIN, 0}};
        const long long wait = nextFrame - NowMs();
        const int ready = poll(fds, 2, int(wait < 0 ? 0 : (wait > options.periodMs ? options.periodMs : wait)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::cerr << "poll: " << std::strerror(errno) << std::endl;
            return 1;
        }
        if (fds[0].revents & POLLIN) ReadController();
        if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buffer[512];
            const ssize_t n = ::read(0, buffer, sizeof buffer);
            if (n <= 0) {
                inputOpen = false;  // nobody types any more; the panel stays on
                continue;
            }
            pendingLine.append(buffer, size_t(n));
            if (pendingLine.size() > 4096) pendingLine.clear();  // no line is that long
            size_t eol;
            while ((eol = pendingLine.find('\n')) != std::string::npos) {
                const std::string line = pendingLine.substr(0, eol);
                pendingLine.erase(0, eol + 1);
                if (!Command(line, std::cout)) return 0;
            }
        }
    }
    return 0;
}
