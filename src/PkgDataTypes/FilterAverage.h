#pragma once

namespace DataTypes {

// Moving average over the last `size` values (1 to 25). Slots start at 0, so
// the first size-1 averages are pulled towards 0; the first value lands in slot 1.
class FilterAverage {
public:
    static constexpr int maxSize = 25;

    FilterAverage();
    explicit FilterAverage(int windowSize);
    virtual ~FilterAverage() = default;

    void ResetFilter();
    float GetNewAverage(float x);
    float GetAverage() const { return average; }

    int size;
    float values[maxSize];
    int index;
    float average;
};

}  // namespace DataTypes
