#include "JointSimulator.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

constexpr int kNotEnabled = 0x04;

bool ParseInt(const std::string& text, long min, long max, long* out) {
    if (text.empty() || text.size() > 16) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

bool ParseOnOff(const std::string& text, bool* out) {
    if (text == "on" || text == "1") {
        *out = true;
        return true;
    }
    if (text == "off" || text == "0") {
        *out = false;
        return true;
    }
    return false;
}

std::string Hex(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%02X", v & 0xFFFF);
    return b;
}

}  // namespace

JointSimulator::JointSimulator(const SimConfig& config, const Options& o, Sender s, Printer p)
    : options(o), send(std::move(s)), print(std::move(p)) {
    for (const SimConfig::Module& c : config.modules) {
        Module m;
        m.config = c;
        // A joint starts at its zero position.
        m.counts = c.kind == SimConfig::IOModule ? 0 : std::llround(double(c.gearZero));
        m.target = m.counts;
        modules.push_back(m);
    }
}

JointSimulator::Module* JointSimulator::Find(int busId) {
    for (Module& m : modules)
        if (m.config.busId == busId) return &m;
    return nullptr;
}

void JointSimulator::Move(Module& m, double now) {
    if (!m.enabled) {
        m.lastMove = now;
        return;
    }
    if (options.speed <= 0.0 || m.lastMove < 0.0) {
        m.counts = m.target;
    } else {
        double maxStep = options.speed * std::fabs(double(m.config.gearScale)) * (now - m.lastMove);
        long long step = (long long)maxStep;
        long long diff = m.target - m.counts;
        if (std::llabs(diff) <= step)
            m.counts = m.target;
        else
            m.counts += diff > 0 ? step : -step;
    }
    m.lastMove = now;
}

void JointSimulator::Answer(Module& m, double now) {
    (void)now;
    if (m.silent) return;
    SimFrame a;
    a.id = m.config.busId + 1;
    if (a.id > 255) return;
    a.length = 8;
    uint8_t error = uint8_t(m.errorBits | (m.enabled ? 0 : kNotEnabled));
    uint8_t inputs = uint8_t((m.inputs & 0x7F) | (m.referenced ? 0x80 : 0));
    uint8_t current = m.enabled ? 20 : 0;
    if (options.v2) {
        uint32_t u = uint32_t(int32_t(m.counts));
        a.data[0] = error;
        a.data[1] = uint8_t(u >> 24);
        a.data[2] = uint8_t(u >> 16);
        a.data[3] = uint8_t(u >> 8);
        a.data[4] = uint8_t(u);
        a.data[5] = 0;
        a.data[6] = current;
        a.data[7] = inputs;
    } else {
        long long c = m.counts < 0 ? 0 : (m.counts > 65535 ? 65535 : m.counts);
        a.data[0] = error;
        a.data[1] = 127;
        a.data[2] = uint8_t(c >> 8);
        a.data[3] = uint8_t(c);
        a.data[4] = current;
        a.data[7] = inputs;
    }
    send(a);
}

void JointSimulator::OnFrame(const SimFrame& f, double now) {
    if (f.id == 1 && f.length == 8 && f.data[0] == 0x01 && f.data[1] == 0x30) {
        if (led[0] != f.data[3] || led[1] != f.data[4] || led[2] != f.data[5]) {
            led[0] = f.data[3];
            led[1] = f.data[4];
            led[2] = f.data[5];
            print("led " + std::to_string(led[0]) + " " + std::to_string(led[1]) + " " + std::to_string(led[2]));
        }
        return;
    }
    Module* m = Find(f.id);
    if (m == nullptr) {
        if (options.verbose) print("rx " + Hex(f.id) + " (no module) len " + std::to_string(f.length));
        return;
    }
    std::string name = std::string(SimConfig::KindName(m->config.kind)) + " " + Hex(f.id);
    bool v2Position = options.v2 && f.length == 8 && f.data[0] == 0x14;
    bool v1Position = !options.v2 && f.length == 6 && f.data[0] == 0x04;
    if (v2Position || v1Position) {
        if (m->config.kind != SimConfig::IOModule) {
            if (v2Position)
                m->target = int32_t((uint32_t(f.data[2]) << 24) | (uint32_t(f.data[3]) << 16) |
                                    (uint32_t(f.data[4]) << 8) | uint32_t(f.data[5]));
            else
                m->target = f.data[2] * 256 + f.data[3];
        }
        m->outputs = v2Position ? f.data[7] : (f.data[5] & 0x0F);
        m->lastCounter = v2Position ? f.data[6] : f.data[4];
        m->positionFrames++;
        Move(*m, now);
        if (options.verbose)
            print("rx " + name + " position " + std::to_string(m->target) + " counter " +
                  std::to_string(m->lastCounter) + " outputs " + Hex(m->outputs));
        Answer(*m, now);
        return;
    }
    if (f.data[0] != 0x01 || f.length < 2) {
        if (options.verbose) print("rx " + name + " unknown frame, len " + std::to_string(f.length));
        return;
    }
    switch (f.data[1]) {
        case 0x09:
            if (estop) {
                print(name + " enable refused: emergency stop");
            } else {
                m->enabled = true;
                m->lastMove = now;
                if (options.verbose) print("rx " + name + " enable");
            }
            break;
        case 0x0A:
            m->enabled = false;
            if (options.verbose) print("rx " + name + " disable");
            break;
        case 0x06:
            m->errorBits = 0;
            if (options.verbose) print("rx " + name + " reset errors");
            break;
        case 0x0B:
            if (m->referenceAt < 0.0 && !m->referenced) m->referenceAt = now + options.referenceDelay;
            if (options.verbose) print("rx " + name + " reference");
            break;
        case 0x08:
            if (f.length >= 4 && f.data[2] == 0x7D && f.data[3] == 0x00) {
                m->counts = 0;
                m->target = 0;
                if (options.verbose) print("rx " + name + " set to zero");
            }
            break;
        case 0x0C:
            m->aligned = true;
            if (options.verbose) print("rx " + name + " align");
            break;
        default:
            if (options.verbose) print("rx " + name + " unknown command " + Hex(f.data[1]));
    }
}

void JointSimulator::SendSupply() {
    SimFrame s;
    s.id = 6;
    s.length = 8;
    int tens = supplyMv / 10;
    int current = currentMa + 3300;
    s.data[2] = uint8_t(tens >> 8);
    s.data[3] = uint8_t(tens);
    s.data[4] = uint8_t(current >> 8);
    s.data[5] = uint8_t(current);
    // Emergency-stop state 3 = no emergency stop: bit 7 of bytes 6 and 7.
    s.data[6] = estop ? 0x00 : 0x80;
    s.data[7] = estop ? 0x00 : 0x80;
    send(s);
}

void JointSimulator::SendTemperatures() {
    for (const Module& m : modules) {
        if (m.silent || m.config.kind == SimConfig::IOModule || m.config.busId + 3 > 255) continue;
        SimFrame t;
        t.id = m.config.busId + 3;
        t.length = 8;
        long raw = std::lround((m.temperature + 25.6) / 0.3125);
        if (raw < 0) raw = 0;
        if (raw > 0xFFFF) raw = 0xFFFF;
        t.data[0] = m.temperatureValid ? 0x12 : 0x00;
        t.data[6] = uint8_t(raw >> 8);
        t.data[7] = uint8_t(raw);
        send(t);
    }
}

void JointSimulator::SendShutdown(int stage) {
    SimFrame s;
    s.id = 0xFF;
    s.length = 8;
    s.data[0] = 0x01;
    s.data[1] = stage == 1 ? 0x0C : 0x29;
    s.data[2] = 'q';
    send(s);
    print("sent shutdown stage " + std::to_string(stage));
}

void JointSimulator::Tick(double now) {
    if (now >= nextSupply) {
        SendSupply();
        nextSupply = now + options.supplyPeriod;
    }
    if (now >= nextTemperature) {
        SendTemperatures();
        nextTemperature = now + options.temperaturePeriod;
    }
    for (Module& m : modules) {
        if (m.referenceAt >= 0.0 && now >= m.referenceAt) {
            m.referenced = true;
            m.referenceAt = -1.0;
            if (options.verbose) print(std::string(SimConfig::KindName(m.config.kind)) + " " + Hex(m.config.busId) + " referenced");
        }
    }
    if (shutdownStage2At >= 0.0 && now >= shutdownStage2At) {
        shutdownStage2At = -1.0;
        SendShutdown(2);
    }
}

std::string JointSimulator::Status() const {
    std::ostringstream out;
    out << "supply " << supplyMv << " estop " << (estop ? "on" : "off") << " led " << led[0] << " " << led[1] << " "
        << led[2] << "\n";
    for (const Module& m : modules) {
        out << "module " << Hex(m.config.busId) << " " << SimConfig::KindName(m.config.kind) << " " << m.config.index
            << " enabled " << (m.enabled ? 1 : 0) << " errors " << Hex(m.errorBits) << " silent " << (m.silent ? 1 : 0)
            << " referenced " << (m.referenced ? 1 : 0) << " counts " << m.counts << " target " << m.target
            << " outputs " << Hex(m.outputs) << " inputs " << Hex(m.inputs) << " frames " << m.positionFrames << "\n";
    }
    return out.str();
}

std::string JointSimulator::Command(const std::string& line, double now, bool* quit) {
    std::istringstream in(line);
    std::vector<std::string> w;
    std::string token;
    while (in >> token && w.size() < 8) w.push_back(token);
    if (w.empty()) return "";
    const std::string& cmd = w[0];
    auto bad = [&](const std::string& why) { return "error: " + why + "\n"; };
    auto module = [&](const std::string& text, Module** out) {
        long id = 0;
        if (!ParseInt(text, 0, 255, &id)) return false;
        *out = Find(int(id));
        return *out != nullptr;
    };
    Module* m = nullptr;
    long value = 0;
    bool on = false;

    if (cmd == "help") {
        return "commands: status | error ID BITS | silence ID on|off | estop on|off | supply MV | current MA | "
               "inputs ID BYTE | temp ID CELSIUS|invalid | enable ID on|off | shutdown | shutdown1 | shutdown2 | "
               "quit\nok\n";
    }
    if (cmd == "status" && w.size() == 1) return Status() + "ok\n";
    if (cmd == "quit" && w.size() == 1) {
        *quit = true;
        return "ok\n";
    }
    if (cmd == "error" && w.size() == 3) {
        if (!module(w[1], &m)) return bad("no module " + w[1]);
        if (!ParseInt(w[2], 0, 255, &value)) return bad("error bits must be 0 ... 0xFF");
        m->errorBits = int(value);
        return "ok\n";
    }
    if (cmd == "silence" && w.size() == 3) {
        if (!module(w[1], &m)) return bad("no module " + w[1]);
        if (!ParseOnOff(w[2], &on)) return bad("on or off");
        m->silent = on;
        return "ok\n";
    }
    if (cmd == "enable" && w.size() == 3) {
        if (!module(w[1], &m)) return bad("no module " + w[1]);
        if (!ParseOnOff(w[2], &on)) return bad("on or off");
        m->enabled = on;
        m->lastMove = now;
        return "ok\n";
    }
    if (cmd == "estop" && w.size() == 2) {
        if (!ParseOnOff(w[1], &on)) return bad("on or off");
        estop = on;
        // Cutting the power disables every drive.
        if (on)
            for (Module& x : modules) x.enabled = false;
        SendSupply();
        return "ok\n";
    }
    if (cmd == "supply" && w.size() == 2) {
        if (!ParseInt(w[1], 0, 655350, &value)) return bad("supply in mV, 0 ... 655350");
        supplyMv = int(value);
        SendSupply();
        return "ok\n";
    }
    if (cmd == "current" && w.size() == 2) {
        if (!ParseInt(w[1], -3300, 65535 - 3300, &value)) return bad("current -3300 ... 62235");
        currentMa = int(value);
        SendSupply();
        return "ok\n";
    }
    if (cmd == "inputs" && w.size() == 3) {
        if (!module(w[1], &m)) return bad("no module " + w[1]);
        if (!ParseInt(w[2], 0, 0x7F, &value)) return bad("inputs are bits 0 ... 6 (0 ... 0x7F)");
        m->inputs = uint8_t(value);
        return "ok\n";
    }
    if (cmd == "temp" && w.size() == 3) {
        if (!module(w[1], &m)) return bad("no module " + w[1]);
        if (w[2] == "invalid") {
            m->temperatureValid = false;
        } else {
            char* end = nullptr;
            double t = std::strtod(w[2].c_str(), &end);
            if (end == nullptr || *end != '\0' || !(t >= -25.6 && t <= 20000.0)) return bad("temperature -25.6 ... 20000");
            m->temperature = t;
            m->temperatureValid = true;
        }
        SendTemperatures();
        return "ok\n";
    }
    if (cmd == "shutdown" && w.size() == 1) {
        SendShutdown(1);
        shutdownStage2At = now + 0.1;
        return "ok\n";
    }
    if (cmd == "shutdown1" && w.size() == 1) {
        SendShutdown(1);
        return "ok\n";
    }
    if (cmd == "shutdown2" && w.size() == 1) {
        SendShutdown(2);
        return "ok\n";
    }
    return bad("unknown command \"" + line.substr(0, 80) + "\" (try help)");
}
