#include "OperatorChannel.h"

void OperatorChannel::PostCommand(int code, int intArg, float numArg) {
    std::lock_guard<std::mutex> lock(mutex);
    pending.code = code;
    pending.intArg = intArg;
    pending.numArg = numArg;
}

OperatorCommand OperatorChannel::TakeCommand() {
    std::lock_guard<std::mutex> lock(mutex);
    OperatorCommand taken = pending;
    pending.code = 0;
    return taken;
}

OperatorCommand OperatorChannel::PeekCommand() const {
    std::lock_guard<std::mutex> lock(mutex);
    return pending;
}

void OperatorChannel::ClearCommand() {
    std::lock_guard<std::mutex> lock(mutex);
    pending.code = 0;
}

void OperatorChannel::SetJogValue(int index, float value) {
    if (!ValidIndex(index)) return;
    std::lock_guard<std::mutex> lock(mutex);
    jog[index] = value;
}

float OperatorChannel::AddJogValue(int index, float delta) {
    if (!ValidIndex(index)) return 0.0f;
    std::lock_guard<std::mutex> lock(mutex);
    jog[index] += delta;
    return jog[index];
}

float OperatorChannel::GetJogValue(int index) const {
    if (!ValidIndex(index)) return 0.0f;
    std::lock_guard<std::mutex> lock(mutex);
    return jog[index];
}

void OperatorChannel::SetJogValues(const float* values) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < jogCount; ++i) jog[i] = values[i];
}

void OperatorChannel::GetJogValues(float* out) const {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < jogCount; ++i) out[i] = jog[i];
}

void OperatorChannel::ResetJogValues() {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < jogCount; ++i) jog[i] = 0.0f;
}
