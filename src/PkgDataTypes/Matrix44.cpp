#include "PkgDataTypes/Matrix44.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

namespace DataTypes {

Matrix44::Matrix44() {
    for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

Matrix44::Matrix44(const Matrix44& other) {
    for (int i = 0; i < 16; ++i) m[i] = other.m[i];
}

Matrix44::Matrix44(const Vector3& x, const Vector3& y, const Vector3& z, const Vector3& t) {
    const Vector3* cols[4] = {&x, &y, &z, &t};
    for (int c = 0; c < 4; ++c) {
        (*this)(0, c) = cols[c]->x;
        (*this)(1, c) = cols[c]->y;
        (*this)(2, c) = cols[c]->z;
        (*this)(3, c) = (c == 3) ? 1.0f : 0.0f;
    }
}

Matrix44& Matrix44::operator=(Matrix44 other) {
    for (int i = 0; i < 16; ++i) m[i] = other.m[i];
    return *this;
}

Matrix44 Matrix44::operator*(Matrix44 b) const {
    Matrix44 r;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += b(row, k) * (*this)(k, col);
            r(row, col) = sum;
        }
    }
    return r;
}

Vector3 Matrix44::operator*(Vector3 p) const {
    const Matrix44& a = *this;
    return Vector3(a(0, 0) * p.x + a(0, 1) * p.y + a(0, 2) * p.z + a(0, 3),
                   a(1, 0) * p.x + a(1, 1) * p.y + a(1, 2) * p.z + a(1, 3),
                   a(2, 0) * p.x + a(2, 1) * p.y + a(2, 2) * p.z + a(2, 3));
}

void Matrix44::SetRotationRad(std::string axis, double angle) {
    float c = float(std::cos(angle));
    float s = float(std::sin(angle));
    float r[9];
    if (axis == "x") {
        float v[9] = {1, 0, 0, 0, c, -s, 0, s, c};
        std::copy(v, v + 9, r);
    } else if (axis == "y") {
        float v[9] = {c, 0, s, 0, 1, 0, -s, 0, c};
        std::copy(v, v + 9, r);
    } else if (axis == "z") {
        float v[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
        std::copy(v, v + 9, r);
    } else {
        throw std::exception();
    }
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) (*this)(row, col) = r[row * 3 + col];
}

void Matrix44::SetRotationDeg(std::string axis, double angle) {
    SetRotationRad(axis, angle * 3.141592 / 180.0);
}

void Matrix44::SetTranslation(float x, float y, float z) {
    (*this)(0, 3) = x;
    (*this)(1, 3) = y;
    (*this)(2, 3) = z;
}

void Matrix44::SetRotationABCDeg(float a, float b, float c) {
    Matrix44 rz, ry, rx;
    rz.SetRotationRad("z", a * 3.141592 / 180.0);
    ry.SetRotationRad("y", b * 3.141592 / 180.0);
    rx.SetRotationRad("x", c * 3.141592 / 180.0);
    Matrix44 product = (rz * ry) * rx;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) (*this)(row, col) = product(row, col);
}

void Matrix44::ABCToMatrix(float a, float b, float c) {
    float ra = a * degToRad, rb = b * degToRad, rc = c * degToRad;
    float sA = std::sin(ra), cA = std::cos(ra);
    float sB = std::sin(rb), cB = std::cos(rb);
    float sC = std::sin(rc), cC = std::cos(rc);
    Matrix44& t = *this;
    t(0, 0) = cA * cB;
    t(0, 1) = cA * sB * sC - sA * cC;
    t(0, 2) = sA * sC + cA * sB * cC;
    t(1, 0) = sA * cB;
    t(1, 1) = cA * cC + sA * sB * sC;
    t(1, 2) = sA * sB * cC - cA * sC;
    t(2, 0) = -sB;
    t(2, 1) = cB * sC;
    t(2, 2) = cB * cC;
}

void Matrix44::MatrixToABC(float* a, float* b, float* c) const {
    const Matrix44& t = *this;
    const double halfPi = 3.14159265358979323846 / 2.0;
    double bRad = std::atan2(-double(t(2, 0)),
                             std::sqrt(double(t(0, 0)) * t(0, 0) + double(t(1, 0)) * t(1, 0)));
    double aRad, cRad;
    if (std::fabs(bRad - halfPi) < 0.001) {
        aRad = 0.0;
        cRad = std::atan2(t(0, 1), t(1, 1));
    } else if (std::fabs(bRad + halfPi) < 0.001) {
        aRad = 0.0;
        cRad = -std::atan2(t(0, 1), t(1, 1));
    } else {
        double cB = std::cos(bRad);
        aRad = std::atan2(t(1, 0) / cB, t(0, 0) / cB);
        cRad = std::atan2(t(2, 1) / cB, t(2, 2) / cB);
    }
    *a = float(aRad * radToDeg);
    *b = float(bRad * radToDeg);
    *c = float(cRad * radToDeg);
}

void Matrix44::GetAxisAngle(Vector3* axis, float* angle) const {
    float x = (Trace() - 1.0f) / 2.0f;
    if (x > 1.0f) x = 1.0f;
    if (x < -1.0f) x = -1.0f;
    float theta = std::acos(x);
    *angle = theta * radToDeg;
    if (std::fabs(theta * radToDeg) > 1e-5f) {
        double d = 2.0 * std::sin(double(theta));
        const Matrix44& t = *this;
        *axis = Vector3(float((t(2, 1) - t(1, 2)) / d), float((t(0, 2) - t(2, 0)) / d),
                        float((t(1, 0) - t(0, 1)) / d));
    } else {
        *axis = Vector3(0.0f, 0.0f, 1.0f);
    }
}

void Matrix44::RotateAxisAngle(Vector3 k, float angle) {
    if (std::fabs(angle) < 0.0001f) return;
    float theta = angle * degToRad;
    float c = std::cos(theta), s = std::sin(theta);
    for (int col = 0; col < 3; ++col) {
        Vector3 v((*this)(0, col), (*this)(1, col), (*this)(2, col));
        Vector3 kxv = Vector3::Cross(k, v);
        float kv = Vector3::Dot(k, v);
        (*this)(0, col) = v.x * c + kxv.x * s + k.x * kv * (1.0f - c);
        (*this)(1, col) = v.y * c + kxv.y * s + k.y * kv * (1.0f - c);
        (*this)(2, col) = v.z * c + kxv.z * s + k.z * kv * (1.0f - c);
    }
}

float Matrix44::Trace() const { return m[0] + m[5] + m[10]; }

void Matrix44::transpose() {
    for (int r = 0; r < 4; ++r)
        for (int c = r + 1; c < 4; ++c) std::swap(m[r * 4 + c], m[c * 4 + r]);
}

Matrix44 Matrix44::inverse(Matrix44 src) {
    Matrix44 a(src);
    int pivotRow[4];
    int pivotCol[4];
    double det = 1.0;
    for (int k = 0; k < 4; ++k) {
        // Full pivoting: largest magnitude in the remaining block, first maximum wins.
        int pr = k, pc = k;
        float best = std::fabs(a(k, k));
        for (int r = k; r < 4; ++r) {
            for (int c = k; c < 4; ++c) {
                if (std::fabs(a(r, c)) > best) {
                    best = std::fabs(a(r, c));
                    pr = r;
                    pc = c;
                }
            }
        }
        float pivot = a(pr, pc);
        det *= pivot;
        if (std::fabs(det) < 1e-10) throw std::string("Matrix inversion: determinant is zero");
        pivotRow[k] = pr;
        pivotCol[k] = pc;
        if (pr != k)
            for (int c = 0; c < 4; ++c) {
                float tmp = a(k, c);
                a(k, c) = a(pr, c);
                a(pr, c) = -tmp;
            }
        if (pc != k)
            for (int r = 0; r < 4; ++r) {
                float tmp = a(r, k);
                a(r, k) = a(r, pc);
                a(r, pc) = -tmp;
            }
        for (int r = 0; r < 4; ++r)
            if (r != k) a(r, k) /= -pivot;
        for (int r = 0; r < 4; ++r) {
            if (r == k) continue;
            for (int c = 0; c < 4; ++c)
                if (c != k) a(r, c) += a(r, k) * a(k, c);
        }
        for (int c = 0; c < 4; ++c)
            if (c != k) a(k, c) /= pivot;
        a(k, k) = 1.0f / pivot;
    }
    for (int k = 2; k >= 0; --k) {
        int pr = pivotRow[k];
        int pc = pivotCol[k];
        if (pr != k)
            for (int r = 0; r < 4; ++r) {
                float tmp = a(r, k);
                a(r, k) = -a(r, pr);
                a(r, pr) = tmp;
            }
        if (pc != k)
            for (int c = 0; c < 4; ++c) {
                float tmp = a(k, c);
                a(k, c) = -a(pc, c);
                a(pc, c) = tmp;
            }
    }
    return a;
}

std::string Matrix44::ToString() const {
    std::string out;
    char buffer[48];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(buffer, sizeof buffer, "%f ", double(m[i]));
        out += buffer;
    }
    return out;
}

}  // namespace DataTypes
