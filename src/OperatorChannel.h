#pragma once

#include <mutex>

// One pending operator command as the main dispatch loop carries it out.
// Code 0 means "no command".
struct OperatorCommand {
    int code = 0;
    int intArg = 0;
    float numArg = 0.0f;
};

// The exchange between one operator channel (keyboard console, display,
// front-end server) and the main dispatch loop: a pending command and nine
// jog values (percent; six axes, gripper, two spare). The channel's thread
// writes, the main loop takes and clears once per pass. Every access is a
// short copy under the channel's own lock, so neither side ever waits long.
class OperatorChannel {
public:
    static constexpr int jogCount = 9;

    OperatorChannel() = default;
    OperatorChannel(const OperatorChannel&) = delete;
    OperatorChannel& operator=(const OperatorChannel&) = delete;

    // Replaces any pending command (the newest one wins, as with a plain field).
    void PostCommand(int code, int intArg = 0, float numArg = 0.0f);
    // The pending command; the pending code is cleared so it runs at most once.
    OperatorCommand TakeCommand();
    OperatorCommand PeekCommand() const;
    void ClearCommand();

    void SetJogValue(int index, float value);
    // Adds delta to one jog value and returns the new value.
    float AddJogValue(int index, float delta);
    float GetJogValue(int index) const;
    void SetJogValues(const float* values);
    void GetJogValues(float* out) const;
    void ResetJogValues();

private:
    static bool ValidIndex(int index) { return index >= 0 && index < jogCount; }

    mutable std::mutex mutex;
    OperatorCommand pending;
    float jog[jogCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
};
