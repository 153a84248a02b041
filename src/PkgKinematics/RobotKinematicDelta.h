#pragma once

#include <memory>
#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"
#include "PkgKinematics/RobotKinematic.h"

// Three-arm parallel (delta) robot with fixed geometry. Arm 0 lies in the x-z
// plane on the +x side; arms 1 and 2 are handled by rotating the tool point by
// 120 and 240 degrees about z. Inverse closed-form per arm; forward is a
// pattern search around the current position. Joints are stored unconverted.
class RobotKinematicDelta : public RobotKinematic {
public:
    RobotKinematicDelta();

    void clone(RobotKinematic* other) override;
    void Init(std::string robotName, std::string robotType, std::string iniFile) override;
    void SetJoints(float* q, bool check) override;
    void SetPosition(DataTypes::Matrix44 pose) override;
    std::unique_ptr<RobotKinematic> Duplicate() const override;

    // p already rotated into arm 0's frame; throws 5 when the arm cannot reach.
    float ComputeOneJoint(int arm, DataTypes::Vector3 p);
    void InverseKin(DataTypes::Matrix44 pose, float* q);
    // Closing error of one arm (0 when the lower arm fits exactly).
    float ComputeError(float q, DataTypes::Vector3 p);
    float Fitness(float* q, DataTypes::Vector3 p);
    // The forward search moves the point while the joints stay fixed: the
    // elbows of q are computed once (Elbows) and the fitness of each candidate
    // point from them (FitnessOfElbows), equal bit for bit to Fitness(q, p).
    void Elbows(const float* q, DataTypes::Vector3* elbows) const;
    float FitnessOfElbows(const DataTypes::Vector3* elbows, DataTypes::Vector3 p) const;
    // Searches the tool point of q, starting at pose's translation, and
    // writes it there: always the point of smallest fitness found.
    void ForwardKin(float* q, DataTypes::Matrix44* pose);
    // Throws 12 when a lower-arm linkage leaves its angle limit.
    void checkLinkages(float* q, DataTypes::Vector3 p);

    float baseJointHeight = 20.0f;
    float baseRadius = 50.0f;
    float upperArmLength = 140.0f;
    float lowerArmLength = 180.0f;
    float platformRadius = 30.0f;
    float platformHeight = 10.0f;
    float linkageAngleLimit = 30.0f;  // degrees
    float reachMargin = 20.0f;        // mm kept below full stretch

    static constexpr int maxSearchPasses = 20;
    static constexpr float searchStartStep = 10.0f;  // mm
    static constexpr float searchGoodEnough = 0.005f;

private:
    void SetGeometry();
    // Vector from arm 0's upper-arm joint to its platform joint.
    DataTypes::Vector3 ArmVector(const DataTypes::Vector3& p) const;
    DataTypes::Vector3 Elbow(float q) const;
    DataTypes::Vector3 Polish(float* q, DataTypes::Vector3 p, float fitness);
};
