#include "PkgDataTypes/Matrix44.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using DataTypes::Matrix44;
using DataTypes::Vector3;

namespace {

void ExpectNear(const Matrix44& a, const Matrix44& b, float tol = 1e-5f) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

Matrix44 Rot(const char* axis, double deg) {
    Matrix44 m;
    m.SetRotationDeg(axis, deg);
    return m;
}

// Ordinary matrix product, for checking the operator's reversed order.
Matrix44 Ordinary(const Matrix44& a, const Matrix44& b) {
    Matrix44 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a(i, k) * b(k, j);
            r(i, j) = s;
        }
    return r;
}

}  // namespace

TEST(Matrix44Product, IdentityAndTranslations) {
    Matrix44 m;
    m.ABCToMatrix(10, 20, 30);
    m.SetTranslation(1, 2, 3);
    ExpectNear(Matrix44() * m, m);
    ExpectNear(m * Matrix44(), m);

    Matrix44 a, b;
    a.SetTranslation(1, 2, 3);
    b.SetTranslation(10, 20, 30);
    Matrix44 sum = a * b;
    EXPECT_FLOAT_EQ(sum(0, 3), 11);
    EXPECT_FLOAT_EQ(sum(1, 3), 22);
    EXPECT_FLOAT_EQ(sum(2, 3), 33);
}

TEST(Matrix44Product, OperandOrderIsReversed) {
    ExpectNear(Rot("z", 30) * Rot("z", 60), Rot("z", 90), 1e-5f);
    ExpectNear(Rot("z", 60) * Rot("z", 30), Rot("z", 90), 1e-5f);
    Matrix44 rx = Rot("x", 90), rz = Rot("z", 90);
    ExpectNear(rx * rz, Ordinary(rz, rx));
    // and it is not the ordinary product in the written order
    Matrix44 wrong = Ordinary(rx, rz);
    float diff = 0;
    for (int i = 0; i < 16; ++i) diff += std::fabs(wrong.m[i] - (rx * rz).m[i]);
    EXPECT_GT(diff, 1.0f);
}

TEST(Matrix44Product, PointTransformUsesTranslation) {
    Matrix44 m = Rot("z", 90);
    m.SetTranslation(100, 0, 5);
    Vector3 p = m * Vector3(10, 0, 0);
    EXPECT_NEAR(p.x, 100, 1e-4);
    EXPECT_NEAR(p.y, 10, 1e-4);
    EXPECT_NEAR(p.z, 5, 1e-4);
}

TEST(Matrix44Rotation, AxisTextIsCheckedAndTranslationKept) {
    Matrix44 m;
    m.SetTranslation(1, 2, 3);
    EXPECT_THROW(m.SetRotationRad("X", 1.0), std::exception);
    EXPECT_THROW(m.SetRotationDeg("w", 1.0), std::exception);
    m.SetRotationRad("y", 0.5);
    EXPECT_FLOAT_EQ(m(0, 3), 1);
    EXPECT_FLOAT_EQ(m(0, 2), std::sin(0.5f));
    EXPECT_FLOAT_EQ(m(2, 0), -std::sin(0.5f));
}

TEST(Matrix44ABC, RoundTripsAndGimbalCases) {
    Matrix44 m;
    float a, b, c;
    m.ABCToMatrix(10, 20, 30);
    m.MatrixToABC(&a, &b, &c);
    EXPECT_NEAR(a, 10, 1e-3);
    EXPECT_NEAR(b, 20, 1e-3);
    EXPECT_NEAR(c, 30, 1e-3);

    m.ABCToMatrix(40, 90, 25);
    m.MatrixToABC(&a, &b, &c);
    EXPECT_FLOAT_EQ(a, 0);
    EXPECT_NEAR(b, 90, 1e-2);
    EXPECT_NEAR(c, -15, 1e-2);

    m.ABCToMatrix(40, -90, 25);
    m.MatrixToABC(&a, &b, &c);
    EXPECT_FLOAT_EQ(a, 0);
    EXPECT_NEAR(b, -90, 1e-2);
    // with B = -90 the frame depends on C + A only
    Matrix44 check;
    check.ABCToMatrix(a, b, c);
    ExpectNear(check, m, 2e-3f);
}

TEST(Matrix44ABC, RandomRoundTripRebuildsTheSameRotation) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> angle(-179.0f, 179.0f);
    std::uniform_real_distribution<float> tilt(-89.0f, 89.0f);
    for (int i = 0; i < 500; ++i) {
        Matrix44 m;
        m.ABCToMatrix(angle(rng), tilt(rng), angle(rng));
        float a, b, c;
        m.MatrixToABC(&a, &b, &c);
        Matrix44 back;
        back.ABCToMatrix(a, b, c);
        ExpectNear(back, m, 1e-4f);
    }
}

TEST(Matrix44ABC, JogIncrementOrderDiffersFromStoredOrder) {
    Matrix44 jog, stored;
    jog.SetRotationABCDeg(30, 20, 10);
    stored.ABCToMatrix(30, 20, 10);
    // SetRotationABCDeg gives Rx(c)·Ry(b)·Rz(a)
    Matrix44 expected = Ordinary(Ordinary(Rot("x", 10), Rot("y", 20)), Rot("z", 30));
    ExpectNear(jog, expected, 1e-5f);
    float diff = 0;
    for (int i = 0; i < 16; ++i) diff += std::fabs(jog.m[i] - stored.m[i]);
    EXPECT_GT(diff, 0.1f);
}

TEST(Matrix44AxisAngle, IdentityAndRoundTrip) {
    Vector3 axis;
    float angle = -1;
    Matrix44().GetAxisAngle(&axis, &angle);
    EXPECT_FLOAT_EQ(angle, 0);
    EXPECT_FLOAT_EQ(axis.z, 1);
    EXPECT_FLOAT_EQ(axis.x, 0);

    Matrix44 m = Rot("z", 40);
    m.GetAxisAngle(&axis, &angle);
    EXPECT_NEAR(angle, 40, 1e-3);
    EXPECT_NEAR(axis.z, 1, 1e-5);

    Matrix44 r;
    r.SetTranslation(5, 6, 7);
    r.RotateAxisAngle(Vector3(0, 0, 1), 40);
    ExpectNear(r * Matrix44(), [] { Matrix44 e = Rot("z", 40); e.SetTranslation(5, 6, 7); return e; }(), 1e-4f);

    Matrix44 unchanged = Rot("x", 12);
    Matrix44 before = unchanged;
    unchanged.RotateAxisAngle(Vector3(0, 1, 0), 0.00005f);
    ExpectNear(unchanged, before, 0.0f);
}

TEST(Matrix44Inverse, KnownCasesAndSingular) {
    Matrix44 t;
    t.SetTranslation(1, 2, 3);
    Matrix44 inv = Matrix44::inverse(t);
    EXPECT_FLOAT_EQ(inv(0, 3), -1);
    EXPECT_FLOAT_EQ(inv(1, 3), -2);
    EXPECT_FLOAT_EQ(inv(2, 3), -3);

    Matrix44 zero;
    for (float& v : zero.m) v = 0;
    try {
        Matrix44::inverse(zero);
        FAIL() << "no throw";
    } catch (const std::string& text) {
        EXPECT_EQ(text, "Matrix inversion: determinant is zero");
    }
}

TEST(Matrix44Inverse, RandomTransformsAndGeneralMatricesInvert) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
    std::uniform_real_distribution<float> offset(-500.0f, 500.0f);
    for (int i = 0; i < 300; ++i) {
        Matrix44 m;
        m.ABCToMatrix(angle(rng), angle(rng) / 2, angle(rng));
        m.SetTranslation(offset(rng), offset(rng), offset(rng));
        Matrix44 product = Matrix44::inverse(m) * m;
        ExpectNear(product, Matrix44(), 2e-4f);
    }
    // General (non-rigid) matrices force row and column exchanges.
    std::uniform_real_distribution<float> any(-10.0f, 10.0f);
    int checked = 0;
    for (int i = 0; i < 300; ++i) {
        Matrix44 m;
        for (float& v : m.m) v = any(rng);
        Matrix44 inv;
        try {
            inv = Matrix44::inverse(m);
        } catch (const std::string&) {
            continue;
        }
        Matrix44 id = Ordinary(m, inv);
        float err = 0;
        for (int k = 0; k < 16; ++k) err = std::fmax(err, std::fabs(id.m[k] - Matrix44().m[k]));
        if (err < 1e-2f) ++checked;
        else ADD_FAILURE() << "inverse off by " << err << " for " << m.ToString();
    }
    EXPECT_GT(checked, 250);
}

TEST(Matrix44Text, ToStringListsAllElements) {
    Matrix44 m;
    m.SetTranslation(1.5f, 0, 0);
    EXPECT_EQ(m.ToString(),
              "1.000000 0.000000 0.000000 1.500000 0.000000 1.000000 0.000000 0.000000 "
              "0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 0.000000 1.000000 ");
    m.transpose();
    EXPECT_FLOAT_EQ(m(3, 0), 1.5f);
    EXPECT_FLOAT_EQ(m.Trace(), 3.0f);
}

TEST(Matrix44Construct, FromColumnVectors) {
    Matrix44 m(Vector3(0, 1, 0), Vector3(-1, 0, 0), Vector3(0, 0, 1), Vector3(7, 8, 9));
    ExpectNear(Matrix44(m), [] { Matrix44 e; e.SetRotationRad("z", 3.14159265 / 2); e.SetTranslation(7, 8, 9); return e; }(), 1e-6f);
    EXPECT_FLOAT_EQ(m(3, 3), 1);
    EXPECT_FLOAT_EQ(m(3, 0), 0);
}
