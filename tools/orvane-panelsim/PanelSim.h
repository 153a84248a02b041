#pragma once

#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "PkgDisplay/Display4DSProtocol.h"
#include "PkgDisplay/FrameAssembler.h"

// A 4DS operator panel on the master side of a pseudo-terminal: it sends the
// panel's input frame periodically, takes operator lines from standard input
// and prints the frames the controller answers with.
class PanelSim {
public:
    struct Options {
        int periodMs = 40;       // input frame period
        int positionMs = 200;    // least time between two printed position frames
        bool printPositions = true;
    };

    explicit PanelSim(const Options& options);
    ~PanelSim();
    PanelSim(const PanelSim&) = delete;
    PanelSim& operator=(const PanelSim&) = delete;

    const std::string& DevicePath() const { return devicePath; }
    // Runs until "quit" or `stop` becomes set; returns the exit status. At the
    // end of standard input it goes on sending (a panel left alone).
    int Run(const volatile std::sig_atomic_t& stop);

    // Acts on one operator line; false for "quit". Writes answers to `out`.
    bool Command(const std::string& line, std::ostream& out);
    // The axis byte that the controller decodes as `percent` (-100 ... 100).
    static uint8_t AxisByteFor(int percent);
    // One readable line for a position frame.
    static std::string FormatPosition(const Display4DSProtocol::PositionFrame& frame);

private:
    void SendFrame();
    void ReadController();
    void OnFrame(const uint8_t* data, size_t length);
    void PrintPosition();

    Options options;
    int master = -1;
    int slaveHold = -1;  // keeps the line up while the controller is not attached
    std::string devicePath;
    Display4DSProtocol::InputFrame frame;
    uint8_t pendingKey = 0;
    bool sending = true;
    std::vector<uint8_t> rawPending;
    FrameAssembler assembler;
    std::vector<uint8_t> lastPosition;
    std::vector<uint8_t> printedPosition;
    long long lastPrintMs = -1000000;
    uint64_t framesSent = 0;
};
