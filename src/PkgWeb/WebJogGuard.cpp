#include "WebJogGuard.h"

void WebJogGuard::Jog(const void* owner, int a, float v, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex);
    if (a < 1 || a > 9 || v == 0.0f) {
        if (owner == holder) holder = nullptr;
        return;
    }
    holder = owner;
    axis = a;
    value = v;
    lastMs = nowMs;
}

void WebJogGuard::Drop(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex);
    if (owner == holder) holder = nullptr;
}

void WebJogGuard::Values(int64_t nowMs, float out[9]) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < 9; ++i) out[i] = 0.0f;
    if (holder == nullptr) return;
    if (nowMs - lastMs > timeoutMs) {
        holder = nullptr;  // quiet: it takes a new press to move again
        return;
    }
    out[axis - 1] = value;
}
