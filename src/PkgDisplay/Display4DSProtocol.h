#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "PkgDataTypes/RobotState.h"

// The serial frames of the 4DS operator panel, in both directions, as pure
// functions: the controller's driver and the panel simulator share them, and
// they are testable without a device. docs/PANELS.md documents every byte.
class Display4DSProtocol {
public:
    static constexpr int inputFrameSize = 17;
    static constexpr int messageFrameSize = 38;
    static constexpr int filenameFrameSize = 25;
    static constexpr int positionFrameSize = 103;
    static constexpr int messageTextSize = 33;
    static constexpr int filenameTextSize = 20;
    static constexpr int errorTextOffset = 71;
    static constexpr int errorTextSize = 30;
    static constexpr int axisCount = 9;
    static constexpr int jogCount = 9;
    static constexpr int platformMode = 7;
    static constexpr int positionGroups = 9;
    static constexpr int digitalOutKeyFirst = 0x78;
    static constexpr int digitalOutCount = DataTypes::RobotState::maxIO;

    // Panel -> controller, 17 bytes.
    struct InputFrame {
        uint8_t mode = 0;
        uint8_t override = 0;
        uint8_t axes[axisCount] = {128, 128, 128, 128, 128, 128, 128, 128, 128};
        uint8_t keyCode = 0;
    };

    // What a key code asks of the controller; command 0 = the code means nothing.
    struct KeyAction {
        int command = 0;
        int parameter = 0;
        bool takeOverride = false;  // the frame's override becomes the numeric argument
    };

    // The position frame as the panel reads it back.
    struct PositionFrame {
        float position[positionGroups] = {};  // degrees (or mm), from tenths offset by 360
        uint8_t jointError[positionGroups] = {};
        uint8_t temperature[positionGroups] = {};
        int currentAll = 0;   // smoothed, multiple of 10
        int supply = 0;
        int kinState = 0;
        int emergencyStop = 0;
        int referenceState = 0;
        uint16_t referencedBits = 0;  // bit i = bus joint i referenced
        int programPoint = 0;         // -1 when none
        int programCount = 0;
        int programRunning = 0;
        int override = 0;
        int gripper = 0;
        uint64_t digitalIn = 0;  // bit i = input i + 1
        uint64_t digitalOut = 0;
        std::string text;  // blanks at the end removed
    };

    // Values of the position frame that do not come straight from the robot state.
    struct PositionExtras {
        int mode = 0;                // panel mode: 7 shows the platform in the first four groups
        float monitoredCurrent = 0;  // bytes 39-40, already smoothed
        float monitoredSupply = 0;   // bytes 41-42
        std::string statusText;      // the text field
    };

    // --- Panel -> controller ---
    // Dead band of +-19 around the centre 128, limited to -100 ... 100.
    static int AxisValue(uint8_t raw);
    // The nine jog values (percent) for the axes of a frame in a panel mode.
    static void MapJogValues(int mode, const uint8_t (&axes)[axisCount], float (&jog)[jogCount]);
    // The command of a key code; digital output codes look at the current outputs.
    static KeyAction DecodeKey(uint8_t keyCode, const bool (&digitalOut)[DataTypes::RobotState::maxIO]);
    static bool DecodeInput(const uint8_t* data, size_t length, InputFrame* out);
    static std::array<uint8_t, inputFrameSize> EncodeInput(const InputFrame& frame);
    // Frame-length rule for the input stream (see FrameAssembler).
    static int InputFrameLength(const uint8_t* data, size_t available);

    // --- Controller -> panel ---
    static std::array<uint8_t, messageFrameSize> EncodeMessage(const std::string& text);
    static std::array<uint8_t, filenameFrameSize> EncodeFilename(const std::string& name);
    static std::array<uint8_t, positionFrameSize> EncodePosition(const DataTypes::RobotState& state,
                                                                 const PositionExtras& extras);
    // Frame-length rule for the output stream (see FrameAssembler).
    static int OutputFrameLength(const uint8_t* data, size_t available);
    static bool DecodeText(const uint8_t* data, size_t length, std::string* out);  // message or file name
    static bool DecodePosition(const uint8_t* data, size_t length, PositionFrame* out);

    // Tenths of a degree offset by 360 degrees, limited to what 16 bits hold.
    static uint16_t EncodeJointValue(float value);
    static float DecodeJointValue(uint16_t raw);
    // Text as the panel can show it: printable ASCII, blank padded or cut to `width`.
    static std::string PanelText(const std::string& text, size_t width);
};
