#include "PkgDataTypes/BezierCasteljau.h"

namespace DataTypes {

int BezierCasteljau::Interpolate(float t, float* out) const {
    const int n = static_cast<int>(points.size());
    if (n < 2) throw "BezierCasteljau: not enough points to interpolate";
    // The scratch array lives on the stack; curves of more points are refused
    // rather than allocating inside the cycle.
    if (n > maxPoints) throw "BezierCasteljau: too many points to interpolate";
    float b[maxPoints];
    for (int d = 0; d < dimension; ++d) {
        for (int k = 0; k < n; ++k) b[k] = points[k][d];
        for (int r = n - 1; r >= 1; --r)
            for (int j = 0; j < r; ++j) b[j] = b[j] + (b[j + 1] - b[j]) * t;
        out[d] = b[0];
    }
    return 0;
}

}  // namespace DataTypes
