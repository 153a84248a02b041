#pragma once

#include <string>

#include "PkgDataTypes/Matrix44.h"
#include "PkgDataTypes/Vector3.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}

// Small helpers shared by the kinematics. Matrix44's operator* composes in
// reverse (a * b is b·a), so the geometry here is written with Product(a, b),
// the ordinary product a·b, to keep the formulas readable.
class KinematicMath {
public:
    static constexpr double pi = 3.14159265358979323846;
    static constexpr double radToDeg = 180.0 / pi;
    static constexpr double degToRad = pi / 180.0;

    static DataTypes::Matrix44 Product(const DataTypes::Matrix44& a, const DataTypes::Matrix44& b);
    static DataTypes::Matrix44 Rz(double deg);
    static DataTypes::Matrix44 Ry(double deg);
    static DataTypes::Matrix44 Tr(float x, float y, float z);
    // Inverse of a rigid transform (rotation transposed). Never fails, unlike
    // the general inverse, which would throw on a degenerate matrix.
    static DataTypes::Matrix44 RigidInverse(const DataTypes::Matrix44& m);
    // acos/asin that tolerate arguments pushed just outside [-1, 1] by rounding.
    static double SafeAcos(double x);
    static double SafeAsin(double x);
    static DataTypes::Vector3 Translation(const DataTypes::Matrix44& m);
    static DataTypes::Vector3 Column(const DataTypes::Matrix44& m, int col);
    static void SetColumn(DataTypes::Matrix44& m, int col, const DataTypes::Vector3& v);
    static bool IsFinite(const DataTypes::Matrix44& m);

    // The shoulder and elbow of a jointed arm: the wrist point of a target
    // (wristLength back along its tool axis), its azimuth phi1 about the base
    // axis, its distance (dr, dz) from the shoulder, and the angles of the
    // triangle of upper arm, forearm and shoulder-to-wrist line d: alpha the
    // elevation of d, beta the angle at the shoulder, gamma the one at the elbow.
    struct ArmGeometry {
        double wristLength;
        double shoulderHeight;  // above the base
        double shoulderOffset;  // out from the base axis towards the wrist point
        double upper;           // shoulder to elbow
        double fore;            // elbow to wrist point
        double reach;           // farthest distance d allowed
        double center;          // wrist point nearer the base axis than this in x and y: NearCenterAxis
    };
    struct ArmAngles {
        double wx, wy;  // wrist point
        double phi1, dr, alpha, beta, gamma;
    };
    enum class ArmResult { Ok, NearCenterAxis, OutOfReach };
    // OutOfReach also for a non-finite wrist point and, beyond rounding, a
    // triangle that does not close.
    static ArmResult SolveArm(const DataTypes::Matrix44& t, const ArmGeometry& g, ArmAngles* out);
    // Whether the wrist point lies in front of the base, seen at joint 1's angle (degrees).
    static bool WristInFront(const DataTypes::Vector3& wristPoint, float joint1Deg);

    // Arms with a wrist on their first three joints (six-axis, Talon). The arm frame of
    // joints 1-3 ends at the wrist point, which arm.wristPoint keeps for the solvers.
    // Forward: the arm frame times the wrist frame.
    template <class Arm>
    static void WristArmForward(Arm& arm, float* q, DataTypes::Matrix44* out) {
        DataTypes::Matrix44 a, w;
        arm.ForwardKinJ1toJ3(q, &a);
        arm.wristPoint = Translation(a);
        arm.ForwardKinJ4toJ6(q, &w);
        *out = Product(a, w);
    }
    // Inverse: the arm joints from the target, then the wrist joints in the arm frame they give.
    template <class Arm>
    static void WristArmInverse(Arm& arm, const DataTypes::Matrix44& target, float* q) {
        arm.ComputeA1toA3(target, q);
        DataTypes::Matrix44 a;
        arm.ForwardKinJ1toJ3(q, &a);
        arm.wristPoint = Translation(a);
        arm.ComputeA4toA6(target, a, q);
    }

    // Robot configuration files. Open and parse or throw ConfigError(46):
    // "<owner>: could not find robot ini file: <path>" when it cannot be read,
    // "<owner>: could not read robot ini file correctly: <path>" on a parse
    // error, "<owner>: line Robot not found in robot ini file!" without a root.
    static tinyxml2::XMLElement* OpenRobotFile(tinyxml2::XMLDocument& doc, const std::string& path,
                                               const std::string& owner);
    // The child element or ConfigError(46, message).
    static tinyxml2::XMLElement* RequireChild(tinyxml2::XMLElement* parent, const char* name,
                                              const std::string& message);
    // Reads an optional float attribute; a missing one keeps *value.
    // A present but non-numeric or non-finite one is fatal (ConfigError 46).
    static void ReadFloat(tinyxml2::XMLElement* element, const char* name, float* value, const std::string& owner);
};
