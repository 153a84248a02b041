// orvane-panelsim: a 4DS operator panel on a pseudo-terminal, for trying the
// controller's panel support without the hardware.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "PanelSim.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

int Usage() {
    std::cerr << "usage: orvane-panelsim [--period MS] [--position-interval MS] [--no-positions]" << std::endl;
    return 2;
}

bool ParseMs(const char* text, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > 60000) return false;
    *out = int(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    PanelSim::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--period" && i + 1 < argc) {
            if (!ParseMs(argv[++i], &options.periodMs)) return Usage();
        } else if (arg == "--position-interval" && i + 1 < argc) {
            if (!ParseMs(argv[++i], &options.positionMs)) return Usage();
        } else if (arg == "--no-positions") {
            options.printPositions = false;
        } else {
            return Usage();
        }
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        PanelSim sim(options);
        std::cout << "device " << sim.DevicePath() << std::endl;
        std::cout << "ready" << std::endl;
        return sim.Run(stopRequested);
    } catch (const std::exception& error) {
        std::cerr << "orvane-panelsim: " << error.what() << std::endl;
        return 1;
    }
}
