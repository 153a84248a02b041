#pragma once

#include <string>

namespace DataTypes {

// A point or direction in space, millimetres.
class Vector3 {
public:
    float x;
    float y;
    float z;

    Vector3() : x(0.0f), y(0.0f), z(0.0f) {}
    Vector3(float xv, float yv, float zv) : x(xv), y(yv), z(zv) {}
    virtual ~Vector3() = default;
    Vector3(const Vector3&) = default;
    Vector3& operator=(const Vector3&) = default;

    static float Dot(Vector3 a, Vector3 b);
    static Vector3 Cross(Vector3 a, Vector3 b);
    // Absolute cosine of the angle between a and b; 0 for (near) zero vectors.
    static float Cos(Vector3 a, Vector3 b);

    void RotateXRad(float angle);
    void RotateYRad(float angle);
    void RotateZRad(float angle);

    // No guard for a zero vector: callers must not pass one.
    Vector3& Normalize();
    float Length() const;

    // Caller-owned 1024-byte buffer "x, y, z" with one decimal each; release with delete[].
    char* ToString() const;
    // The same text without the ownership hand-over.
    std::string ToStdString() const;

    // Frame from main direction a and auxiliary direction b (see Matrix44 users).
    static void CreateCoordSystem(Vector3& a, Vector3& b, Vector3& c);
};

}  // namespace DataTypes
