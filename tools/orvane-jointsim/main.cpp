// orvane-jointsim: stands in for every module on the joint bus (see tools/README.md).

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "ControlServer.h"
#include "JointSimulator.h"
#include "LogSingleton.h"
#include "PkgHardware/CANInterfacePHYTEC.h"
#include "SimBus.h"
#include "SimConfig.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) { stopRequested = true; }

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

int Usage(const std::string& why) {
    if (!why.empty()) std::cerr << "orvane-jointsim: " << why << "\n";
    std::cerr << "usage: orvane-jointsim [--base DIR] [--udp PORT | --socketcan NAME] [--control PORT]\n"
                 "                       [--speed UNITS_PER_S] [--reference-delay MS] [--verbose]\n"
                 "                       [--timestamps FILE]\n"
                 "Without --udp/--socketcan the transport follows ORVANE_CAN as the controller does.\n";
    return 2;
}

bool ToNumber(const std::string& text, double min, double max, double* out) {
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || !(v >= min && v <= max)) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string base;
    std::string transport;
    bool transportGiven = false;
    int controlPort = -1;
    JointSimulator::Options options;
    std::string timestampFile;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        double n = 0;
        if (a == "--base" && next(&v)) {
            base = v;
        } else if (a == "--udp" && next(&v)) {
            transport = "udp:" + v;
            transportGiven = true;
        } else if (a == "--socketcan" && next(&v)) {
            transport = "socketcan:" + v;
            transportGiven = true;
        } else if (a == "--control" && next(&v)) {
            if (!ToNumber(v, 0, 65535, &n)) return Usage("bad control port " + v);
            controlPort = int(n);
        } else if (a == "--speed" && next(&v)) {
            if (!ToNumber(v, 0, 1e6, &n)) return Usage("bad speed " + v);
            options.speed = n;
        } else if (a == "--reference-delay" && next(&v)) {
            if (!ToNumber(v, 0, 600000, &n)) return Usage("bad reference delay " + v);
            options.referenceDelay = n / 1000.0;
        } else if (a == "--timestamps" && next(&v)) {
            timestampFile = v;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a == "--help" || a == "-h") {
            return Usage("");
        } else {
            return Usage("unknown or incomplete option " + a);
        }
    }
    if (!transportGiven) {
        const char* env = std::getenv("ORVANE_CAN");
        transport = env != nullptr ? env : "";
    }
    CANInterfacePHYTEC::Transport t;
    if (!CANInterfacePHYTEC::ParseTransport(transport, &t)) return Usage("bad transport \"" + transport + "\"");
    if (base.empty()) {
        char cwd[1024];
        if (getcwd(cwd, sizeof cwd) == nullptr) return Usage("cannot read the working directory");
        base = LogSingleton::BaseDirectoryFor(cwd);
    }

    SimConfig config;
    std::string problem = config.Load(base);
    if (!problem.empty()) {
        std::cerr << "orvane-jointsim: " << problem << "\n";
        return 1;
    }
    options.v2 = config.protocol == "VKTCANV2";

    SimBus bus;
    problem = t.kind == CANInterfacePHYTEC::Transport::Udp ? bus.OpenUdp(t.port) : bus.OpenSocketCan(t.interfaceName);
    if (!problem.empty()) {
        std::cerr << "orvane-jointsim: bus: " << problem << "\n";
        return 1;
    }
    ControlServer control;
    if (controlPort >= 0) {
        problem = control.Listen(controlPort);
        if (!problem.empty()) {
            std::cerr << "orvane-jointsim: " << problem << "\n";
            return 1;
        }
    }

    // One line per received frame: arrival as the kernel stamped it (realtime
    // seconds), identifier, length, first data byte. Buffered; written out when
    // the simulator ends. The kernel's stamp keeps this process's own
    // scheduling out of the periods measured from it.
    FILE* stamps = nullptr;
    if (!timestampFile.empty()) {
        stamps = std::fopen(timestampFile.c_str(), "w");
        if (stamps == nullptr) {
            std::cerr << "orvane-jointsim: cannot write " << timestampFile << "\n";
            return 1;
        }
        std::setvbuf(stamps, nullptr, _IOFBF, 1 << 20);
        // Without kernel stamps (an emulator may not pass the option on) the
        // frames are stamped when read, on the same clock.
        problem = bus.EnableArrivalStamps();
        if (!problem.empty()) std::cerr << "orvane-jointsim: " << problem << "; frames stamped when read\n";
    }

    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    auto print = [](const std::string& line) { std::cout << line << std::endl; };
    JointSimulator sim(config, options, [&bus](const SimFrame& f) { bus.Send(f); }, print);

    std::cout << "orvane-jointsim: robot " << config.robotType << ", protocol " << config.protocol << ", "
              << config.modules.size() << " modules" << std::endl;
    for (const SimConfig::Module& m : config.modules)
        std::cout << "  " << SimConfig::KindName(m.kind) << " " << m.index << ": CAN ID " << m.busId << " gear "
                  << m.gearScale << " zero " << m.gearZero << std::endl;
    std::cout << "bus " << bus.Describe() << std::endl;
    if (controlPort >= 0) std::cout << "control listening on 127.0.0.1:" << control.Port() << std::endl;
    std::cout << "ready" << std::endl;

    bool quit = false;
    while (!quit && !stopRequested.load()) {
        std::vector<pollfd> fds;
        fds.push_back(pollfd{bus.Fd(), POLLIN, 0});
        control.AddPollFds(&fds);
        if (poll(fds.data(), nfds_t(fds.size()), 5) < 0 && errno != EINTR) break;
        double now = Now();
        SimFrame f;
        // Bounded per pass so the control port and the periodic messages keep their turn.
        double arrival = 0.0;
        for (int n = 0; n < 256 && bus.Receive(&f, &arrival); ++n) {
            if (stamps != nullptr)
                std::fprintf(stamps, "%.6f %d %d %d\n", arrival, f.id, f.length, f.length > 0 ? int(f.data[0]) : -1);
            sim.OnFrame(f, now);
        }
        control.Service([&](const std::string& line) { return sim.Command(line, Now(), &quit); });
        sim.Tick(Now());
    }
    if (stamps != nullptr) std::fclose(stamps);
    std::cout << "orvane-jointsim: stopped" << std::endl;
    return 0;
}
