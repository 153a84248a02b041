#pragma once

#include <vector>

namespace DataTypes {

// Bezier curve of any degree and dimension, evaluated by de Casteljau.
// Control points are the caller's arrays, held by reference: each must hold
// `dimension` floats and outlive the last evaluation.
class BezierCasteljau {
public:
    static constexpr int maxPoints = 64;

    BezierCasteljau() : dimension(1) {}
    explicit BezierCasteljau(int dim) : dimension(dim) {}
    virtual ~BezierCasteljau() = default;

    void AddStartPoint(float* point) { points.push_back(point); }
    // Throws "BezierCasteljau: not enough points to interpolate" (const char*)
    // for fewer than two points. t is not clamped.
    int Interpolate(float t, float* out) const;

    int dimension;
    std::vector<float*> points;
};

}  // namespace DataTypes
