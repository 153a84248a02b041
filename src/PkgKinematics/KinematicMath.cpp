#include "PkgKinematics/KinematicMath.h"

#include <cmath>
#include <cstdio>

#include <tinyxml2.h>

#include "ConfigError.h"

using DataTypes::Matrix44;
using DataTypes::Vector3;

Matrix44 KinematicMath::Product(const Matrix44& a, const Matrix44& b) {
    return b * a;
}

// Rz and Ry run several times per kinematic call in every cycle: they fill the
// matrix directly instead of going through SetRotationDeg's axis text, with the
// same angle conversion, so the results are bit-identical.
namespace {
double DegToRadAsMatrix(double deg) { return deg * 3.141592 / 180.0; }
}  // namespace

Matrix44 KinematicMath::Rz(double deg) {
    const double angle = DegToRadAsMatrix(deg);
    const float c = float(std::cos(angle));
    const float s = float(std::sin(angle));
    Matrix44 m;
    m(0, 0) = c;
    m(0, 1) = -s;
    m(1, 0) = s;
    m(1, 1) = c;
    return m;
}

Matrix44 KinematicMath::Ry(double deg) {
    const double angle = DegToRadAsMatrix(deg);
    const float c = float(std::cos(angle));
    const float s = float(std::sin(angle));
    Matrix44 m;
    m(0, 0) = c;
    m(0, 2) = s;
    m(2, 0) = -s;
    m(2, 2) = c;
    return m;
}

Matrix44 KinematicMath::Tr(float x, float y, float z) {
    Matrix44 m;
    m.SetTranslation(x, y, z);
    return m;
}

Matrix44 KinematicMath::RigidInverse(const Matrix44& m) {
    Matrix44 r;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) r(row, col) = m(col, row);
    for (int row = 0; row < 3; ++row) {
        r(row, 3) = -(r(row, 0) * m(0, 3) + r(row, 1) * m(1, 3) + r(row, 2) * m(2, 3));
    }
    return r;
}

double KinematicMath::SafeAcos(double x) {
    return std::acos(x > 1.0 ? 1.0 : (x < -1.0 ? -1.0 : x));
}

double KinematicMath::SafeAsin(double x) {
    return std::asin(x > 1.0 ? 1.0 : (x < -1.0 ? -1.0 : x));
}

Vector3 KinematicMath::Translation(const Matrix44& m) {
    return Vector3(m(0, 3), m(1, 3), m(2, 3));
}

Vector3 KinematicMath::Column(const Matrix44& m, int col) {
    return Vector3(m(0, col), m(1, col), m(2, col));
}

void KinematicMath::SetColumn(Matrix44& m, int col, const Vector3& v) {
    m(0, col) = v.x;
    m(1, col) = v.y;
    m(2, col) = v.z;
}

bool KinematicMath::IsFinite(const Matrix44& m) {
    for (float v : m.m)
        if (!std::isfinite(v)) return false;
    return true;
}

tinyxml2::XMLElement* KinematicMath::OpenRobotFile(tinyxml2::XMLDocument& doc, const std::string& path,
                                                   const std::string& owner) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw ConfigError(46, owner + ": could not find robot ini file: " + path);
    std::fclose(f);
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
        throw ConfigError(46, owner + ": could not read robot ini file correctly: " + path);
    tinyxml2::XMLElement* root = doc.FirstChildElement("Robot");
    if (root == nullptr) throw ConfigError(46, owner + ": line Robot not found in robot ini file!");
    return root;
}

tinyxml2::XMLElement* KinematicMath::RequireChild(tinyxml2::XMLElement* parent, const char* name,
                                                  const std::string& message) {
    tinyxml2::XMLElement* e = parent->FirstChildElement(name);
    if (e == nullptr) throw ConfigError(46, message);
    return e;
}

void KinematicMath::ReadFloat(tinyxml2::XMLElement* element, const char* name, float* value,
                              const std::string& owner) {
    const tinyxml2::XMLAttribute* a = element->FindAttribute(name);
    if (a == nullptr) return;
    float v = 0.0f;
    if (a->QueryFloatValue(&v) != tinyxml2::XML_SUCCESS || !std::isfinite(v)) {
        throw ConfigError(46, owner + ": attribute " + name + " of line " + element->Value() +
                                  " is not a number in robot ini file: \"" + a->Value() + "\"");
    }
    *value = v;
}

KinematicMath::ArmResult KinematicMath::SolveArm(const Matrix44& t, const ArmGeometry& g, ArmAngles* out) {
    const double wx = double(t(0, 3)) - g.wristLength * t(0, 2);
    const double wy = double(t(1, 3)) - g.wristLength * t(1, 2);
    const double wz = double(t(2, 3)) - g.wristLength * t(2, 2);
    out->wx = wx;
    out->wy = wy;
    if (!std::isfinite(wx) || !std::isfinite(wy) || !std::isfinite(wz)) return ArmResult::OutOfReach;
    if (std::fabs(wx) < g.center && std::fabs(wy) < g.center) return ArmResult::NearCenterAxis;
    out->phi1 = std::atan2(wy, wx);
    const double r = std::sqrt(wx * wx + wy * wy);
    const double dz = wz - g.shoulderHeight;
    const double dr = r - g.shoulderOffset;
    out->dr = dr;
    const double d = std::sqrt(dz * dz + dr * dr);
    if (d > g.reach) return ArmResult::OutOfReach;
    const double upper = g.upper, fore = g.fore;
    const double cosBeta = (d * d - fore * fore + upper * upper) / (2.0 * d * upper);
    const double cosGamma = (fore * fore - d * d + upper * upper) / (2.0 * fore * upper);
    // Beyond rounding, the wrist point is too close to the shoulder to be reached.
    if (!(d > 0.0) || std::fabs(cosBeta) > 1.0 + 1e-6 || std::fabs(cosGamma) > 1.0 + 1e-6)
        return ArmResult::OutOfReach;
    out->alpha = SafeAsin(dz / d);
    out->beta = SafeAcos(cosBeta);
    out->gamma = SafeAcos(cosGamma);
    return ArmResult::Ok;
}

bool KinematicMath::WristInFront(const Vector3& wristPoint, float joint1Deg) {
    Vector3 w = wristPoint;
    w.RotateZRad(float(-double(joint1Deg) * pi / 180.0));
    return w.x >= 0.0f;
}
