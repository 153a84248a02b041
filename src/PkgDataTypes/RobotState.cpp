#include "PkgDataTypes/RobotState.h"

#include <cstdio>

namespace DataTypes {

namespace {
template <typename T, int N>
void Zero(T (&values)[N]) {
    for (int i = 0; i < N; ++i) values[i] = T();
}

std::string Triple(float a, float b, float c) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "( %f %f %f )", double(a), double(b), double(c));
    return buffer;
}
}  // namespace

RobotState::RobotState()
    : posA(0.0f),
      posB(0.0f),
      posC(0.0f),
      flag(false),
      override(0.0f),
      errorText("n/a"),
      kinState(0),
      supply(0),
      currentAll(0),
      emergencyStop(0),
      referenceState(0) {
    for (float& v : posCartRobot.m) v = 0.0f;
    Zero(jointSetPoint);
    Zero(jointCurrent);
    Zero(gripperSetPoint);
    Zero(gripperCurrent);
    Zero(platformSetPoint);
    Zero(platformCurrent);
    Zero(digitalIn);
    Zero(digitalOut);
    Zero(jointError);
    Zero(jointMotorCurrent);
    Zero(jointTemperature);
    Zero(jointValueB);
    Zero(jointReferenced);
    Zero(programStatus);
}

std::string RobotState::ToStringPos() const {
    return Triple(posCartRobot(0, 3), posCartRobot(1, 3), posCartRobot(2, 3));
}

std::string RobotState::ToStringJoints() const {
    return Triple(jointSetPoint[0], jointSetPoint[1], jointSetPoint[2]);
}

uint64_t RobotState::PackBits(const bool (&bits)[maxIO]) {
    uint64_t packed = 0;
    for (int i = 0; i < maxIO; ++i)
        if (bits[i]) packed |= (uint64_t(1) << i);
    return packed;
}

}  // namespace DataTypes
