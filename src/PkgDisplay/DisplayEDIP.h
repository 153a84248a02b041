#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "PkgDataTypes/RobotState.h"

// Driver of an eDIP intelligent graphic touch display: three screens chosen
// by touch keys on the right edge (general, joint jog, program). Touch events
// become command codes polled with GetCommand; the jog screen keeps one jog
// value per joint. Every command travels in the display's small-protocol
// frame (DC1, length, payload, checksum). Called from one thread at a time;
// the port is non-blocking and every write is bounded in time.
class DisplayEDIP {
public:
    static constexpr const char* defaultPort = "/dev/ttyO1";
    static constexpr int jointCount = 6;
    static constexpr int screenGeneral = 0;
    static constexpr int screenJog = 1;
    static constexpr int screenProgram = 3;
    static constexpr size_t maxPayload = 255;
    static constexpr size_t readSize = 200;

    explicit DisplayEDIP(std::string device = defaultPort);
    virtual ~DisplayEDIP();
    DisplayEDIP(const DisplayEDIP&) = delete;
    DisplayEDIP& operator=(const DisplayEDIP&) = delete;

    void Connect();
    int open_port();
    void Disconnect();
    bool IsConnected() const { return connected; }
    const std::string& GetDevice() const { return device; }

    // Requests the touch buffer and acts on the events in the answer.
    void readBuffer();
    int GetCommand();
    void SetValues(const DataTypes::RobotState& state);
    void SetOverride(int value);
    int GetOverride() const { return override; }
    void SetActiveJoint(int joint);
    int GetActiveJoint() const { return activeJoint; }
    int GetScreen() const { return screen; }
    float GetJogValue(int joint) const;
    float GetJointValue(int joint) const;
    int GetAlivePhase() const { return alivePhase; }

    void sendDouble(float value, int x, int y);
    void sendAliveSign(int x, int y);
    void sendStatus(int x, int y);
    void sendStartUpMessage();
    void sendScreenKeys();
    void clearDisplay();
    void initGeneral();
    void initEnable();
    void initJogJoint();
    void initProgram();
    // One refresh: touch events, alive sign, and every refresh interval the values.
    void update();

    // Writes one command in the small-protocol frame; false if not sent.
    bool SendData(const std::vector<uint8_t>& payload);

    // --- Pure helpers, testable without a device ---
    // Right-aligned tenths in six characters: "  12.3", " -12.3", "-123.4".
    static std::string convertDtoC(float value);
    static uint8_t Checksum(uint8_t lead, const uint8_t* payload, size_t length);
    // DC1, length, payload, checksum, 0x0A, 0x0D; empty if the payload is too long.
    static std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload);
    // The touch-buffer request: DC2, 1, 'S', checksum.
    static std::vector<uint8_t> RequestFrame();
    // The event bytes of an answer: the payload of a DC1 frame (after an
    // optional ACK) whose checksum holds, or the raw bytes when the answer
    // is not framed. False for a framed answer that is short or corrupt.
    static bool AnswerPayload(const uint8_t* data, size_t length, std::vector<uint8_t>* payload);
    // Acts on the ESC 'A' (touch key) and ESC 'B' (bar) events in `data`.
    void HandleEvents(const uint8_t* data, size_t length);

private:
    void touchKey(int code);
    void switchScreen(int newScreen);
    void sendText(int x, int y, const std::string& text);
    void writeBounded(const std::vector<uint8_t>& bytes);
    void lose(const std::string& why);
    void clearJogValues();

    std::string device;
    bool connected = false;
    int port = -1;
    float jogValues[jointCount] = {0, 0, 0, 0, 0, 0};
    int override = 0;
    int command = 0;
    int jointCountInUse = jointCount;
    float jointValues[jointCount] = {0, 0, 0, 0, 0, 0};
    int activeJoint = 0;
    int screen = screenGeneral;
    int alivePhase = 0;
    int refreshInterval = 30;
    int refreshCount = 0;
};
