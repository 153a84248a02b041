#include "PkgDataTypes/Vector3.h"

#include <cmath>
#include <cstdio>

namespace DataTypes {

float Vector3::Dot(Vector3 a, Vector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vector3 Vector3::Cross(Vector3 a, Vector3 b) {
    return Vector3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

float Vector3::Cos(Vector3 a, Vector3 b) {
    float lengths = a.Length() * b.Length();
    if (lengths < 1e-8f) return 0.0f;
    return std::fabs(Dot(a, b)) / lengths;
}

void Vector3::RotateXRad(float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    float ny = c * y - s * z;
    float nz = s * y + c * z;
    y = ny;
    z = nz;
}

void Vector3::RotateYRad(float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    float nx = c * x + s * z;
    float nz = c * z - s * x;
    x = nx;
    z = nz;
}

void Vector3::RotateZRad(float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    float nx = c * x - s * y;
    float ny = s * x + c * y;
    x = nx;
    y = ny;
}

Vector3& Vector3::Normalize() {
    float len = Length();
    x /= len;
    y /= len;
    z /= len;
    return *this;
}

float Vector3::Length() const { return std::sqrt(x * x + y * y + z * z); }

char* Vector3::ToString() const {
    char* buffer = new char[1024];
    std::snprintf(buffer, 1024, "%.1lf, %.1lf, %.1lf", double(x), double(y), double(z));
    return buffer;
}

std::string Vector3::ToStdString() const {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%.1lf, %.1lf, %.1lf", double(x), double(y), double(z));
    return buffer;
}

void Vector3::CreateCoordSystem(Vector3& a, Vector3& b, Vector3& c) {
    a.Normalize();
    b.Normalize();
    if (a.Length() * b.Length() >= 1e-8f) {
        // Rounding can push |a.b| of parallel unit vectors past 1; acos would give NaN.
        double cosine = std::fmin(1.0, std::fabs(double(Dot(a, b))));
        double angle = std::acos(cosine) * 180.0 / 3.1415927;
        if (angle < 5.0) b = Vector3(1.0f, 0.0f, 0.0f);
    }
    c = Cross(b, a);
    b = Cross(a, c);
}

}  // namespace DataTypes
