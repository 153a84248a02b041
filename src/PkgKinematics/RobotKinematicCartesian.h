#pragma once

#include <memory>
#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"
#include "PkgKinematics/RobotKinematic.h"

// Three-axis linear gantry whose axes may point in any (independent) direction.
// Tool point = originOffset + j0 * dirA1 + j1 * dirA2 + j2 * dirA3; the tool
// orientation is fixed (identity).
class RobotKinematicCartesian : public RobotKinematic {
public:
    RobotKinematicCartesian();

    void clone(RobotKinematic* other) override;
    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    void SetJoints(float* joints, bool check) override;
    void SetPosition(DataTypes::Matrix44 pose) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;

    void ReadIniFile(const std::string& iniFile);

    float lx = 500.0f, ly = 500.0f, lz = 100.0f;  // axis lengths, logged only
    DataTypes::Vector3 dirA1{1.0f, 0.0f, 0.0f};
    DataTypes::Vector3 dirA2{0.0f, 1.0f, 0.0f};
    DataTypes::Vector3 dirA3{0.0f, 0.0f, -1.0f};
    DataTypes::Matrix44 directionMatrix;
    DataTypes::Matrix44 inverseDirectionMatrix;
    DataTypes::Vector3 originOffset{-195.0f, -250.0f, 130.0f};

private:
    void BuildDirectionMatrix();
};
