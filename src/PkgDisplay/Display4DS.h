#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OperatorChannel.h"
#include "PkgDataTypes/FilterAverage.h"
#include "PkgDataTypes/RobotState.h"
#include "PkgDisplay/Display4DSProtocol.h"
#include "PkgDisplay/FrameAssembler.h"

// The operator panel: a 4D Systems serial display with joystick and keys.
// The main loop connects it once, then every pass hands it the robot state
// (SetValues), lets it exchange frames (update) and takes the operator's
// command and jog values from the display's operator channel. All calls come
// from the main loop's thread; the port is non-blocking, so a silent or
// vanished panel never holds the loop up.
class Display4DS {
public:
    static constexpr const char* defaultPort = "/dev/ttyUSB0";
    static constexpr int jogCount = Display4DSProtocol::jogCount;
    static_assert(jogCount == OperatorChannel::jogCount, "one jog value per channel entry");
    // Passes (of 25 ms) without an input frame after which the joystick
    // counts as released: a cable pulled mid-jog must not keep the robot moving.
    static constexpr int inputTimeoutPasses = 20;
    // Open-port results besides 0: the configuration steps that failed.
    static constexpr int resultOpenFailed = -1;
    static constexpr int resultNotATty = 50;
    static constexpr int resultGetAttributes = 51;
    static constexpr int resultBaudRate = 52;
    static constexpr int resultSetAttributes = 53;

    Display4DS();
    virtual ~Display4DS();
    Display4DS(const Display4DS&) = delete;
    Display4DS& operator=(const Display4DS&) = delete;

    // Opens the panel on `port`; an empty port means no panel is fitted.
    void Connect(std::string port);
    // Opens and configures the serial device (115200 8N1 raw); 0 on success.
    int open_port(std::string port);
    void Disconnect();
    bool IsConnected() const { return connected; }
    const std::string& GetPort() const { return portName; }

    void SetValues(const DataTypes::RobotState& state);
    void SetStatusText(const std::string& text) { statusText = text; }
    // One exchange: read what the panel sent, answer with exactly one frame.
    void update();

    // The panel's pending command (code, parameter, override as numeric
    // argument) and its jog values, as the main loop takes them.
    OperatorChannel& GetChannel() { return channel; }
    // The pending command code (0 = none), reset by the call.
    int GetCommand();
    int GetCommandParameter() const { return commandParameter; }
    // The override carried by command 33 (the panel's numeric argument).
    int GetOverrideValue() const { return overrideValue; }
    int GetOverride() const { return override; }
    int GetMode() const { return mode; }
    float GetJogValue(int index) const;
    void GetJogValues(float (&out)[jogCount]) const;
    void resetJogValues();
    uint64_t GetByteCount() const { return byteCount; }
    uint64_t GetSkippedByteCount() const { return assembler.SkippedBytes(); }

    void SendPosition();
    void SendMessage();
    void SendFilename();

    // Applies one complete 17-byte input frame; frames with a wrong start are ignored.
    void HandleInputFrame(const uint8_t* frame, size_t length);

private:
    void readInput();
    bool writePending();
    void queue(const uint8_t* data, size_t length);
    void lose(const std::string& why);

    bool connected = false;
    int port = -1;
    std::string portName = defaultPort;

    OperatorChannel channel;
    int override = 0;
    int commandParameter = 0;
    int overrideValue = 0;
    int mode = 0;
    int passesWithoutInput = 0;

    DataTypes::RobotState shown;
    std::string statusText;
    DataTypes::FilterAverage filterCurrent{5};
    DataTypes::FilterAverage filterSupply{1};

    bool messagePending = true;
    std::string message;
    bool filenamePending = false;
    std::string filename;
    uint64_t byteCount = 0;

    FrameAssembler assembler;
    // The unsent rest of the last frame; at most one frame is ever queued.
    std::vector<uint8_t> txPending;
};
