#pragma once

#include <cstdint>
#include <string>

// The status telegram as a front-end reads it back: the decoded fields of
// "NEXSTART <n> STATUS ... NEXEND" (see ComTelegram::Status).
class ComStatusTelegram {
public:
    int counter = -1;
    std::string mode;
    float jointSetPoint[7] = {0, 0, 0, 0, 0, 0, 0};
    float jointCurrent[7] = {0, 0, 0, 0, 0, 0, 0};
    float pose[6] = {0, 0, 0, 0, 0, 0};  // X, Y, Z, A, B, C
    float override = 0.0f;
    uint64_t digitalIn = 0;
    uint64_t digitalOut = 0;
    int emergencyStop = 0;
    int supply = 0;
    int currentAll = 0;
    int jointMotorCurrent[7] = {0, 0, 0, 0, 0, 0, 0};
    std::string errorText;
    int jointError[7] = {0, 0, 0, 0, 0, 0, 0};
    int kinState = 0;

    // Decodes one telegram (with or without its line feed); false when the
    // text is not a complete status telegram.
    bool Parse(const std::string& text);
    // One readable line for people and logs.
    std::string ToReadable() const;
    static std::string KinStateText(int kinState);
};
