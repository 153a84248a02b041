#include "PkgKinematics/PlatformKinematic.h"

#include <cmath>

namespace {
// Bounds one input so a corrupt jog value cannot fling the wheels.
float Limit(float v, float lo, float hi) {
    if (!std::isfinite(v)) return 0.0f;
    return v < lo ? lo : (v > hi ? hi : v);
}
}  // namespace

PlatformKinematic::PlatformKinematic() = default;

void PlatformKinematic::JogPlatform(float* jog, float override) {
    const float f = Limit(override, 0.0f, 100.0f) / 100.0f;
    const float vx = f * Limit(jog[0], -100.0f, 100.0f) * 5.0f / 100.0f;
    const float vy = f * Limit(jog[1], -100.0f, 100.0f) * 5.0f / 100.0f;
    const float w = f * Limit(jog[2], -100.0f, 100.0f) * 5.0f / 100.0f;
    wheels[0] += vx + vy - w;
    wheels[1] += vx - vy + w;
    wheels[2] += vx + vy + w;
    wheels[3] += vx - vy - w;
}

void PlatformKinematic::GetJoints(float* out) const {
    for (int i = 0; i < wheelCount; ++i) out[i] = wheels[i];
}

void PlatformKinematic::ResetLastJoints(float* in) {
    for (int i = 0; i < wheelCount; ++i) wheels[i] = in[i];
}
