#pragma once

#include <string>

#include "PkgDataTypes/Vector3.h"

namespace DataTypes {

// 4x4 homogeneous transform, row by row; rotation in the upper-left 3x3 block,
// translation (mm) in column 3.
//
// Product order: a * b is b·a in ordinary notation (element (r,c) = sum_k b(r,k)·a(k,c)),
// so delta * pose applies delta in the frame of pose. Every user composes by this rule.
class Matrix44 {
public:
    static constexpr float degToRad = 0.017453292f;
    static constexpr float radToDeg = 57.29578f;

    Matrix44();
    Matrix44(const Matrix44& other);
    Matrix44(const Vector3& x, const Vector3& y, const Vector3& z, const Vector3& t);
    virtual ~Matrix44() = default;
    Matrix44& operator=(Matrix44 other);

    float& operator()(int row, int col) { return m[row * 4 + col]; }
    float operator()(int row, int col) const { return m[row * 4 + col]; }

    Matrix44 operator*(Matrix44 b) const;
    Vector3 operator*(Vector3 p) const;

    // Axis "x", "y" or "z" (lower case only); anything else throws std::exception.
    void SetRotationRad(std::string axis, double angle);
    void SetRotationDeg(std::string axis, double angle);
    void SetTranslation(float x, float y, float z);
    // Rx(c)·Ry(b)·Rz(a): used for small jog increments only.
    void SetRotationABCDeg(float a, float b, float c);
    // Rz(a)·Ry(b)·Rx(c): the stored and reported orientation convention.
    void ABCToMatrix(float a, float b, float c);
    void MatrixToABC(float* a, float* b, float* c) const;
    void GetAxisAngle(Vector3* axis, float* angle) const;
    void RotateAxisAngle(Vector3 axis, float angle);
    float Trace() const;
    void transpose();
    // Throws std::string "Matrix inversion: determinant is zero" for singular matrices.
    static Matrix44 inverse(Matrix44 m);
    std::string ToString() const;

    float m[16];
};

}  // namespace DataTypes
