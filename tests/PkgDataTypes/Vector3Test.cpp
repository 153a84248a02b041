#include "PkgDataTypes/Vector3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using DataTypes::Vector3;

TEST(Vector3Ops, DotCrossCos) {
    Vector3 a(1, 2, 3), b(4, 5, 6);
    EXPECT_FLOAT_EQ(Vector3::Dot(a, b), 32);
    Vector3 c = Vector3::Cross(a, b);
    EXPECT_FLOAT_EQ(c.x, -3);
    EXPECT_FLOAT_EQ(c.y, 6);
    EXPECT_FLOAT_EQ(c.z, -3);
    EXPECT_FLOAT_EQ(Vector3::Cos(Vector3(1, 0, 0), Vector3(-1, 0, 0)), 1);
    EXPECT_FLOAT_EQ(Vector3::Cos(Vector3(), Vector3(1, 0, 0)), 0);
    EXPECT_NEAR(Vector3::Cos(Vector3(1, 0, 0), Vector3(1, 1, 0)), std::sqrt(0.5f), 1e-6);
}

TEST(Vector3Ops, RotationsAreCounterClockwise) {
    Vector3 v(1, 0, 0);
    v.RotateZRad(3.14159265f / 2);
    EXPECT_NEAR(v.x, 0, 1e-6);
    EXPECT_NEAR(v.y, 1, 1e-6);
    v.RotateXRad(3.14159265f / 2);
    EXPECT_NEAR(v.z, 1, 1e-6);
    v.RotateYRad(3.14159265f / 2);
    EXPECT_NEAR(v.x, 1, 1e-6);
    EXPECT_NEAR(v.z, 0, 1e-6);
}

TEST(Vector3Ops, NormalizeAndText) {
    Vector3 v(3, 0, 4);
    EXPECT_FLOAT_EQ(v.Normalize().Length(), 1);
    std::unique_ptr<char[]> text(Vector3(1.25f, -2, 300.04f).ToString());
    EXPECT_STREQ(text.get(), "1.2, -2.0, 300.0");
    EXPECT_EQ(Vector3(0.06f, 0, 0).ToStdString(), "0.1, 0.0, 0.0");
}

TEST(Vector3Frame, CreateCoordSystem) {
    Vector3 a(0, 0, 2), b(0, 0.01f, 1), c;
    Vector3::CreateCoordSystem(a, b, c);
    EXPECT_FLOAT_EQ(a.z, 1);
    // b was replaced by (1,0,0): c = b x a = (0,-1,0), new b = a x c = (1,0,0)
    EXPECT_NEAR(c.y, -1, 1e-6);
    EXPECT_NEAR(b.x, 1, 1e-6);

    Vector3 a2(1, 0, 0), b2(1, 1, 0), c2;
    Vector3::CreateCoordSystem(a2, b2, c2);
    EXPECT_NEAR(Vector3::Dot(a2, c2), 0, 1e-6);
    EXPECT_NEAR(Vector3::Dot(a2, b2), 0, 1e-6);
    EXPECT_NEAR(Vector3::Dot(b2, c2), 0, 1e-6);
    EXPECT_GT(b2.y, 0);

    // Exactly parallel directions must not leave a degenerate frame.
    Vector3 a3(0, 0, 5), b3(0, 0, 3), c3;
    Vector3::CreateCoordSystem(a3, b3, c3);
    EXPECT_GT(c3.Length(), 0.5f);
}
