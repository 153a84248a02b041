#include "PkgDisplay/Display4DSProtocol.h"

#include <cmath>

namespace {

constexpr uint8_t frameStart = 0xFF;
constexpr uint8_t frameEndMark = 0x42;

// A frame that carries one text, already padded to its field: start, two command
// bytes, the text, end mark, start.
template <size_t Size>
std::array<uint8_t, Size> TextFrame(uint8_t first, uint8_t second, const std::string& shown) {
    std::array<uint8_t, Size> bytes{};
    bytes[0] = frameStart;
    bytes[1] = first;
    bytes[2] = second;
    for (size_t i = 0; i < shown.size() && 3 + i < Size - 2; ++i) bytes[3 + i] = uint8_t(shown[i]);
    bytes[Size - 2] = frameEndMark;
    bytes[Size - 1] = frameStart;
    return bytes;
}

// Float to integer without the undefined behaviour of an out-of-range cast:
// truncates toward zero, limits to [lo, hi], NaN gives 0 (limited).
long ToBoundedInt(double value, long lo, long hi) {
    if (std::isnan(value)) value = 0.0;
    value = std::trunc(value);
    if (value < double(lo)) return lo;
    if (value > double(hi)) return hi;
    return long(value);
}

uint8_t ToByte(double value) {
    return uint8_t(ToBoundedInt(value, 0, 255));
}

void PutU16(uint8_t* at, unsigned value) {
    at[0] = uint8_t((value >> 8) & 0xFF);
    at[1] = uint8_t(value & 0xFF);
}

unsigned GetU16(const uint8_t* at) {
    return (unsigned(at[0]) << 8) | unsigned(at[1]);
}

void PutBits(uint8_t* at, const bool (&bits)[DataTypes::RobotState::maxIO]) {
    for (int byte = 0; byte < 8; ++byte) {
        uint8_t v = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (bits[byte * 8 + bit]) v = uint8_t(v | (1u << bit));
        at[byte] = v;
    }
}

uint64_t GetBits(const uint8_t* at) {
    uint64_t v = 0;
    for (int byte = 0; byte < 8; ++byte) v |= uint64_t(at[byte]) << (8 * byte);
    return v;
}

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// Layout of the position frame after the joint groups (docs/PANELS.md).
constexpr int posCurrent = 39;
constexpr int posSupply = 41;
constexpr int posKinState = 43;
constexpr int posEStop = 44;
constexpr int posRefState = 45;
constexpr int posRefBits = 46;
constexpr int posProgPoint = 48;
constexpr int posProgCount = 50;
constexpr int posProgRunning = 52;
constexpr int posOverride = 53;
constexpr int posGripper = 54;
constexpr int posDigitalIn = 55;
constexpr int posDigitalOut = 63;
constexpr int posEndMark = 101;

static_assert(Display4DSProtocol::errorTextOffset == posDigitalOut + 8, "text follows the outputs");
static_assert(Display4DSProtocol::errorTextOffset + Display4DSProtocol::errorTextSize == posEndMark,
              "text ends at the end mark");

}  // namespace

int Display4DSProtocol::AxisValue(uint8_t raw) {
    const int centred = int(raw) - 128;
    int a = 0;
    if (centred < -19)
        a = int(raw) - 108;
    else if (centred > 19)
        a = int(raw) - 148;
    if (a < -100) a = -100;
    if (a > 100) a = 100;
    return a;
}

void Display4DSProtocol::MapJogValues(int mode, const uint8_t (&axes)[axisCount], float (&jog)[jogCount]) {
    float a[axisCount];
    for (int i = 0; i < axisCount; ++i) a[i] = float(AxisValue(axes[i]));
    float arm[6] = {0, 0, 0, 0, 0, 0};
    if (mode == 0 || mode == 1) {
        const float m[6] = {-a[0], -a[1], a[2], a[3], -a[4], a[5]};
        for (int i = 0; i < 6; ++i) arm[i] = m[i];
    } else if (mode >= 2 && mode <= 5) {
        const float m[6] = {-a[1], a[2], -a[0], a[3], -a[4], a[5]};
        for (int i = 0; i < 6; ++i) arm[i] = m[i];
    } else if (mode == platformMode) {
        arm[0] = -a[1];
        arm[1] = -a[0];
        arm[2] = -a[2];
    }
    for (int i = 0; i < 6; ++i) jog[i] = arm[i] + 0.0f;  // no negative zero
    jog[6] = a[6];
    jog[7] = a[7];
    jog[8] = a[8];
}

Display4DSProtocol::KeyAction Display4DSProtocol::DecodeKey(
    uint8_t keyCode, const bool (&digitalOut)[DataTypes::RobotState::maxIO]) {
    KeyAction action;
    const int code = keyCode;
    if (code >= 0x46 && code <= 0x4B) {
        action.command = 15;
        action.parameter = code - 0x46;
        return action;
    }
    if (code >= digitalOutKeyFirst && code < digitalOutKeyFirst + digitalOutCount) {
        action.parameter = code - digitalOutKeyFirst;
        action.command = digitalOut[action.parameter] ? 32 : 31;
        return action;
    }
    switch (code) {
        case 0x1E: action.command = 10; break;
        case 0x28: action.command = 13; break;
        case 0x32: action.command = 11; break;
        case 0x3C: action.command = 33; action.takeOverride = true; break;
        case 0x4F: action.command = 16; break;
        case 0x50: action.command = 61; break;
        case 0x51: action.command = 3; break;
        case 0x52: action.command = 4; break;
        case 0x53: action.command = 62; break;
        case 0x55: action.command = 7; break;
        case 0x56: action.command = 8; break;
        case 0x57: action.command = 9; break;
        case 0x5A: action.command = 5; break;
        case 0x5B: action.command = 52; break;
        case 0x5C: action.command = 50; break;
        case 0x5D: action.command = 54; break;
        case 0x5E: action.command = 55; break;
        case 0x5F: action.command = 83; break;
        case 0x60: action.command = 56; break;
        case 0x61: action.command = 57; break;
        case 0x64: action.command = 80; break;
        case 0x65: action.command = 81; break;
        case 0x66: action.command = 82; break;
        case 0x67: action.command = 84; break;
        case 0x0A: case 0x0B: action.command = 21; break;
        case 0x0C: case 0x0D: action.command = 22; break;
        case 0x0E: case 0x0F: action.command = 23; break;
        case 0x11: action.command = 24; break;
        default: break;
    }
    return action;
}

bool Display4DSProtocol::DecodeInput(const uint8_t* data, size_t length, InputFrame* out) {
    if (length != size_t(inputFrameSize) || data[0] != frameStart || data[1] != 0x00) return false;
    out->mode = data[3];
    out->override = data[4];
    for (int i = 0; i < axisCount; ++i) out->axes[i] = data[5 + i];
    out->keyCode = data[14];
    return true;
}

std::array<uint8_t, Display4DSProtocol::inputFrameSize> Display4DSProtocol::EncodeInput(
    const InputFrame& frame) {
    std::array<uint8_t, inputFrameSize> bytes{};
    bytes[0] = frameStart;
    bytes[1] = 0x00;
    bytes[2] = uint8_t(inputFrameSize);
    bytes[3] = frame.mode;
    bytes[4] = frame.override;
    for (int i = 0; i < axisCount; ++i) bytes[5 + i] = frame.axes[i];
    bytes[14] = frame.keyCode;
    return bytes;
}

int Display4DSProtocol::InputFrameLength(const uint8_t* data, size_t available) {
    if (data[0] != frameStart) return 0;
    if (available < 2) return -1;
    return data[1] == 0x00 ? inputFrameSize : 0;
}

std::string Display4DSProtocol::PanelText(const std::string& text, size_t width) {
    std::string out;
    out.reserve(width);
    for (size_t i = 0; i < text.size() && out.size() < width; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out.push_back(c >= 0x20 && c < 0x7F ? char(c) : '?');
    }
    out.resize(width, ' ');
    return out;
}

std::array<uint8_t, Display4DSProtocol::messageFrameSize> Display4DSProtocol::EncodeMessage(
    const std::string& text) {
    return TextFrame<messageFrameSize>(0x02, 0x22, PanelText(text, messageTextSize));
}

std::array<uint8_t, Display4DSProtocol::filenameFrameSize> Display4DSProtocol::EncodeFilename(
    const std::string& name) {
    return TextFrame<filenameFrameSize>(0x01, 0x14, PanelText(name, filenameTextSize));
}

uint16_t Display4DSProtocol::EncodeJointValue(float value) {
    // Truncated tenths plus 3600; angles beyond -360 ... 6193.5 are pinned to
    // the ends instead of wrapping round to a wrong reading.
    const long tenths = ToBoundedInt(double(value * 10.0f), -100000000L, 100000000L);
    long raw = tenths + 3600;
    if (raw < 0) raw = 0;
    if (raw > 0xFFFF) raw = 0xFFFF;
    return uint16_t(raw);
}

float Display4DSProtocol::DecodeJointValue(uint16_t raw) {
    return float(int(raw) - 3600) / 10.0f;
}

std::array<uint8_t, Display4DSProtocol::positionFrameSize> Display4DSProtocol::EncodePosition(
    const DataTypes::RobotState& state, const PositionExtras& extras) {
    std::array<uint8_t, positionFrameSize> bytes{};
    bytes[0] = frameStart;
    bytes[1] = 0x00;
    bytes[2] = 0x1C;
    for (int i = 0; i < positionGroups; ++i) {
        float value = state.jointSetPoint[i];
        if (extras.mode == platformMode && i < DataTypes::RobotState::maxPlatformJoints)
            value = state.platformSetPoint[i];
        uint8_t* group = &bytes[size_t(3 + 4 * i)];
        PutU16(group, EncodeJointValue(value));
        group[2] = uint8_t(state.jointError[i] & 0xFF);
        group[3] = uint8_t(ToBoundedInt(state.jointTemperature[i], -32768, 32767) & 0xFF);
    }
    // Rounded down to tens so the digits on the panel do not flicker.
    const long current = ToBoundedInt(double(extras.monitoredCurrent), 0, 0xFFFF);
    PutU16(&bytes[posCurrent], unsigned(current - current % 10));
    PutU16(&bytes[posSupply], unsigned(ToBoundedInt(double(extras.monitoredSupply), 0, 0xFFFF)));
    bytes[posKinState] = ToByte(state.kinState);
    bytes[posEStop] = ToByte(state.emergencyStop);
    bytes[posRefState] = ToByte(state.referenceState);
    unsigned refBits = 0;
    for (int i = 0; i < DataTypes::RobotState::maxBusJoints; ++i)
        if (state.jointReferenced[i]) refBits |= 1u << i;
    PutU16(&bytes[posRefBits], refBits);
    PutU16(&bytes[posProgPoint], unsigned(ToBoundedInt(state.programStatus[0], -32768, 32767)) & 0xFFFF);
    PutU16(&bytes[posProgCount], unsigned(ToBoundedInt(state.programStatus[1], 0, 0xFFFF)));
    bytes[posProgRunning] = ToByte(state.programStatus[2]);
    bytes[posOverride] = ToByte(state.override);
    bytes[posGripper] = ToByte(state.gripperSetPoint[0]);
    PutBits(&bytes[posDigitalIn], state.digitalIn);
    PutBits(&bytes[posDigitalOut], state.digitalOut);
    const std::string text = PanelText(extras.statusText, errorTextSize);
    for (int i = 0; i < errorTextSize; ++i) bytes[size_t(errorTextOffset + i)] = uint8_t(text[size_t(i)]);
    bytes[posEndMark] = frameEndMark;
    bytes[posEndMark + 1] = frameStart;
    return bytes;
}

int Display4DSProtocol::OutputFrameLength(const uint8_t* data, size_t available) {
    if (data[0] != frameStart) return 0;
    if (available < 3) return -1;
    if (data[1] == 0x00 && data[2] == 0x1C) return positionFrameSize;
    if (data[1] == 0x01 && data[2] == 0x14) return filenameFrameSize;
    if (data[1] == 0x02 && data[2] == 0x22) return messageFrameSize;
    return 0;
}

bool Display4DSProtocol::DecodeText(const uint8_t* data, size_t length, std::string* out) {
    size_t textSize = 0;
    if (length == size_t(messageFrameSize) && data[1] == 0x02 && data[2] == 0x22)
        textSize = messageTextSize;
    else if (length == size_t(filenameFrameSize) && data[1] == 0x01 && data[2] == 0x14)
        textSize = filenameTextSize;
    else
        return false;
    if (data[0] != frameStart || data[length - 2] != frameEndMark || data[length - 1] != frameStart)
        return false;
    *out = TrimRight(std::string(reinterpret_cast<const char*>(data + 3), textSize));
    return true;
}

bool Display4DSProtocol::DecodePosition(const uint8_t* data, size_t length, PositionFrame* out) {
    if (length != size_t(positionFrameSize) || data[0] != frameStart || data[1] != 0x00 ||
        data[2] != 0x1C || data[posEndMark] != frameEndMark || data[posEndMark + 1] != frameStart)
        return false;
    for (int i = 0; i < positionGroups; ++i) {
        const uint8_t* group = data + 3 + 4 * i;
        out->position[i] = DecodeJointValue(uint16_t(GetU16(group)));
        out->jointError[i] = group[2];
        out->temperature[i] = group[3];
    }
    out->currentAll = int(GetU16(data + posCurrent));
    out->supply = int(GetU16(data + posSupply));
    out->kinState = data[posKinState];
    out->emergencyStop = data[posEStop];
    out->referenceState = data[posRefState];
    out->referencedBits = uint16_t(GetU16(data + posRefBits));
    out->programPoint = int(int16_t(uint16_t(GetU16(data + posProgPoint))));
    out->programCount = int(GetU16(data + posProgCount));
    out->programRunning = data[posProgRunning];
    out->override = data[posOverride];
    out->gripper = data[posGripper];
    out->digitalIn = GetBits(data + posDigitalIn);
    out->digitalOut = GetBits(data + posDigitalOut);
    out->text = TrimRight(std::string(reinterpret_cast<const char*>(data + errorTextOffset), errorTextSize));
    return true;
}
