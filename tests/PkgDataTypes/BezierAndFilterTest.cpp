#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "PkgDataTypes/BezierCasteljau.h"
#include "PkgDataTypes/FilterAverage.h"

using DataTypes::BezierCasteljau;
using DataTypes::FilterAverage;

TEST(BezierCasteljau, KnownValues) {
    float p0[] = {0}, p1[] = {10}, p2[] = {20};
    BezierCasteljau curve;
    curve.AddStartPoint(p0);
    curve.AddStartPoint(p1);
    curve.AddStartPoint(p2);
    float out = -1;
    EXPECT_EQ(curve.Interpolate(0.25f, &out), 0);
    EXPECT_FLOAT_EQ(out, 5);
    curve.Interpolate(0.5f, &out);
    EXPECT_FLOAT_EQ(out, 10);
    curve.Interpolate(1.0f, &out);
    EXPECT_FLOAT_EQ(out, 20);

    float q0[] = {0, 0}, q1[] = {10, 0}, q2[] = {10, 10};
    BezierCasteljau plane(2);
    plane.AddStartPoint(q0);
    plane.AddStartPoint(q1);
    plane.AddStartPoint(q2);
    float xy[2];
    plane.Interpolate(0.5f, xy);
    EXPECT_FLOAT_EQ(xy[0], 7.5f);
    EXPECT_FLOAT_EQ(xy[1], 2.5f);
}

TEST(BezierCasteljau, NeedsTwoPoints) {
    float p0[] = {1};
    BezierCasteljau curve;
    float out;
    try {
        curve.Interpolate(0.5f, &out);
        FAIL();
    } catch (const char* text) {
        EXPECT_STREQ(text, "BezierCasteljau: not enough points to interpolate");
    }
    curve.AddStartPoint(p0);
    EXPECT_THROW(curve.Interpolate(0.5f, &out), const char*);
}

TEST(BezierCasteljau, QuadraticMatchesClosedFormRandomly) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> v(-100, 100), t(-0.5f, 1.5f);
    for (int i = 0; i < 200; ++i) {
        float a[3] = {v(rng), v(rng), v(rng)}, b[3] = {v(rng), v(rng), v(rng)},
              c[3] = {v(rng), v(rng), v(rng)};
        BezierCasteljau curve(3);
        curve.AddStartPoint(a);
        curve.AddStartPoint(b);
        curve.AddStartPoint(c);
        float tt = t(rng), out[3];
        curve.Interpolate(tt, out);
        for (int d = 0; d < 3; ++d) {
            float expected = (1 - tt) * (1 - tt) * a[d] + 2 * tt * (1 - tt) * b[d] + tt * tt * c[d];
            EXPECT_NEAR(out[d], expected, 1e-2f);
        }
    }
}

TEST(FilterAverage, WindowClampAndWarmUp) {
    FilterAverage one(0);
    EXPECT_EQ(one.size, 1);
    EXPECT_FLOAT_EQ(one.GetNewAverage(7), 7);
    EXPECT_FLOAT_EQ(one.GetNewAverage(-2), -2);
    EXPECT_EQ(FilterAverage(40).size, 25);

    FilterAverage three(3);
    EXPECT_FLOAT_EQ(three.GetNewAverage(3), 1);
    EXPECT_FLOAT_EQ(three.GetNewAverage(3), 2);
    EXPECT_FLOAT_EQ(three.GetNewAverage(3), 3);
    EXPECT_FLOAT_EQ(three.GetAverage(), 3);

    FilterAverage five;
    EXPECT_EQ(five.size, 5);
    EXPECT_FLOAT_EQ(five.GetNewAverage(10), 2);
    EXPECT_EQ(five.index, 1);  // first value lands in slot 1
    EXPECT_FLOAT_EQ(five.values[1], 10);
    five.ResetFilter();
    EXPECT_FLOAT_EQ(five.GetAverage(), 0);
    EXPECT_EQ(five.index, 0);
}
