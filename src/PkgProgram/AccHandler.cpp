#include "PkgProgram/AccHandler.h"

AccHandler::AccHandler(float maxAcc, float p) : param(p) {
    for (float& a : accMax) a = maxAcc;
}

float* AccHandler::RequestAcc() {
    for (int i = 0; i < kMaxJoints; ++i) acc[i] = accMax[i] * percent / 100.0f;
    return acc;
}

void AccHandler::ResetAcc() {
    for (float& a : acc) a = 0.0f;
}

void AccHandler::SetPercent(float p) {
    // Written so that NaN also ends up at 0.
    percent = (p > 0.0f) ? p : 0.0f;
}
