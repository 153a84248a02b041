#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/RobotState.h"
#include "PkgKinematics/KinematicMath.h"

class LogSingleton;

// Abstract base of every robot geometry: joint values in, tool pose out
// (SetJoints), tool pose in, joint values out (SetPosition), plus joint limit
// and speed supervision.
//
// Failures are thrown as a plain int (see the error codes below); joints and
// pose are only written after every check passed, so a throw leaves them as
// they were (the velocities of the failed CheckJoints remain).
//
// Joint conventions: the user convention is what the robot state, programs,
// front-end and bus see; the internal convention is what the geometry
// computes with. internal = offset + direction * user. `joints` holds internal
// values, GetJoints returns user values.
//
// Not thread-safe: one kinematic object is used by one thread at a time. The
// path planner gets its own instance (KinematicFactory::CreateCopy).
class RobotKinematic {
public:
    // Error codes thrown as int.
    static constexpr int errorDeltaOutOfReach = 5;
    static constexpr int errorDeltaLinkage = 12;
    static constexpr int errorJointBelowMin = 13;
    static constexpr int errorJointAboveMax = 14;
    static constexpr int errorNearCenterAxis = 21;
    static constexpr int errorOutOfReach = 22;
    static constexpr int errorWristSingularity = 23;

    static constexpr int maxModelJoints = 6;
    static constexpr int maxConversionJoints = 9;

    RobotKinematic();
    virtual ~RobotKinematic() = default;
    RobotKinematic(const RobotKinematic&) = default;
    RobotKinematic& operator=(const RobotKinematic&) = default;

    // Copies the state of another kinematic of the same kind into this one
    // (only the Talon kinds copy anything; see each kind).
    virtual void clone(RobotKinematic* other) = 0;
    // Reads the robot configuration file and prepares the model. Fatal
    // configuration errors throw ConfigError(46, message).
    virtual void Init(std::string robotName, std::string robotType, std::string iniFile);
    // Forward kinematics from user joint values (joint-count entries);
    // with check, CheckJoints runs first.
    virtual void SetJoints(float* joints, bool check);
    // Inverse kinematics of a tool pose.
    virtual void SetPosition(DataTypes::Matrix44 pose);
    // A full, independent copy of this kinematic (same kind, same state), for
    // users that need their own instance, such as the path planner.
    virtual std::unique_ptr<RobotKinematic> Duplicate() const = 0;

    // out[i] = (joints[i] - offset[i]) * direction[i] for the joint count.
    void GetJoints(float* out) const;
    // Copies the pose into posCartRobot and the orientation into posA/B/C.
    void GetPosition(DataTypes::RobotState* state) const;
    // joints = internal value of userJoints, velocities 0: no jump seen next.
    void ResetLastJoints(float* userJoints);
    // Computes the joint velocities against the stored joints, then throws 13
    // (below minimum, moving down) or 14 (above maximum, moving up) for the
    // first offending joint. A non-finite joint value throws 13. Stores nothing
    // but the velocities.
    void CheckJoints(float* internalJoints);
    // Adds the base height offset to *z and converts joints user -> internal.
    void KinAdaptorToInternalFormat(float* joints, float* z) const;

    float UserToInternal(int joint, float user) const;
    float InternalToUser(int joint, float internal) const;

    // ---- Shared fields (read and written by the robot object and planner) ----
    std::string kinematicName;  // "RobotKinematicTalon5" for that kind, else empty
    std::string robotName;
    std::string robotType;
    int32_t jointCount = 0;
    DataTypes::Matrix44 pose;  // tool pose of the last accepted joint set
    float orientationA = 0.0f;
    float orientationB = 0.0f;
    float orientationC = 0.0f;
    float joints[maxModelJoints];           // internal convention
    float jointVelocities[maxModelJoints];  // of the last CheckJoints, units/s
    float jointMin[maxModelJoints];         // internal convention after Init
    float jointMax[maxModelJoints];
    float maxJointVelocities[maxModelJoints];  // units/s, from the configuration
    float baseHeightOffset = 0.0f;             // zOffset of ManufacturerJointConfig
    float jointOffsets[maxConversionJoints];
    float jointDirections[maxConversionJoints];
    double cycleTime = 10.0;  // ms; written by the robot object after creation
    bool errorReported = false;  // latch of Fail: one log line per failing episode

protected:
    // Converts the limit pairs of the first `count` joints from the user to
    // the internal convention (swapping min and max where the direction flips).
    void ConvertLimitsToInternal(int count);
    // Rotary joints can take a solution angle plus any number of turns. Picks
    // for each of the first `count` joints the turn nearest the current joint,
    // even where it lies beyond the limits: CheckJoints then refuses it (13,
    // 14) rather than the arm spinning a joint a full turn to a far turn
    // inside them.
    void ChooseNearestTurn(float* q, int count) const;
    // Angle folded into (-180, 180].
    static double NormalizeDeg(double angle);
    // Logs "   Joint %d: Min ... JointDirection ..." for the first `count` joints.
    void LogJointLines(int count) const;

    // How a jointed kind's Init starts: takes the names and logs a blank line and
    // "<label> <name> / <type>  - Kinematic Data: ".
    LogSingleton* BeginInit(const char* label, const std::string& name, const std::string& type);
    // clone's work for a kind that copies: takes over *other when it is another object of
    // the same kind, else nothing.
    template <class Kind>
    static void CopyFromSameKind(Kind* self, RobotKinematic* other) {
        auto* source = dynamic_cast<Kind*>(other);
        if (source != nullptr && source != self) *self = *source;
    }
    // Pose and limits the six- and five-axis arms start from before their file is read.
    void SetArmDefaults();
    // Logs `message` unless errorReported, latches it, then throws `code`.
    [[noreturn]] void Fail(int code, const std::string& message);
    // Forward half of SetJoints: the internal values of the user joints into q
    // (13 for a non-finite one), checked when asked, then stored as the joints.
    void TakeUserJoints(const float* userJoints, bool check, float* q);
    // Inverse half of SetPosition: 22 for a non-finite joint of the solution q,
    // else the nearest turns, the limits (CheckJoints); q and `target` are
    // stored as joints and pose only when all passed, and the latch is reset.
    void TakeSolution(float* q, const DataTypes::Matrix44& target);
    // KinematicMath::SolveArm, failing 21 ("Kinematic Error: too close to
    // center axis! ...") or 22 ("InvKin: OutofReach").
    KinematicMath::ArmAngles SolveArmOrFail(const DataTypes::Matrix44& target, const KinematicMath::ArmGeometry& g);

    // The elements of a jointed arm's robot configuration file.
    struct ArmSections {
        tinyxml2::XMLElement* kinematic;
        tinyxml2::XMLElement* minMax;
        tinyxml2::XMLElement* velocities;
        tinyxml2::XMLElement* manufacturer;
        tinyxml2::XMLElement* singularities;
    };
    // Opens the file into doc and finds every section, ConfigError 46 for the
    // first one missing ("RobotMaster: line Kinematic not found in robot ini file!").
    static ArmSections OpenArmFile(tinyxml2::XMLDocument& doc, const std::string& path, const std::string& owner);
    // Reads A<n>Min, A<n>Max, A<n> (speed), A<n>Offset and A<n>Dir of the first
    // `count` joints, then zOffset.
    void ReadArmJoints(const ArmSections& sections, int count, const std::string& owner);
    // ConfigError 46 for the first of `count` joints whose direction is not 1 or -1.
    void CheckJointDirections(int count, const std::string& owner) const;
};
