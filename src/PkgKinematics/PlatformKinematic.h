#pragma once

#include <string>

#include "PkgDataTypes/FilterAverage.h"

// Turns the operator's platform jog input (forward, sideways, turn) into
// increments of the four mecanum wheel set-points, once per robot cycle.
class PlatformKinematic {
public:
    static constexpr int wheelCount = 4;

    PlatformKinematic();
    virtual ~PlatformKinematic() = default;

    // jog[0] forward, jog[1] sideways, jog[2] turn, percent -100..100 (values
    // beyond are limited); override in percent (0..100 used).
    void JogPlatform(float* jog, float override);
    void GetJoints(float* out) const;
    void ResetLastJoints(float* in);

    std::string name;
    std::string type;
    float wheels[wheelCount] = {0.0f, 0.0f, 0.0f, 0.0f};
    DataTypes::FilterAverage filterX{10};
    DataTypes::FilterAverage filterY{10};
    DataTypes::FilterAverage filterTurn{10};
};
