#include "WebJogGuard.h"

void WebJogGuard::Jog(const void* owner, int a, float v, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex);
    if (a < 1 || a > 9 || v == 0.0f) {
        if (owner == holder) holder = nullptr;
        if (owner == tripped) tripped = nullptr;
        return;
    }
    if (owner == tripped) return;
    holder = owner;
    axis = a;
    value = v;
    lastMs = nowMs;
}

void WebJogGuard::Drop(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex);
    if (owner == holder) holder = nullptr;
    if (owner == tripped) tripped = nullptr;
}

bool WebJogGuard::Values(int64_t nowMs, float out[9]) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < 9; ++i) out[i] = 0.0f;
    if (holder == nullptr) return false;
    if (nowMs - lastMs > timeoutMs) {
        tripped = holder;
        holder = nullptr;
        return true;
    }
    out[axis - 1] = value;
    return false;
}
