#include "PkgDataTypes/FilterAverage.h"

namespace DataTypes {

FilterAverage::FilterAverage() : FilterAverage(5) {}

FilterAverage::FilterAverage(int windowSize) : size(windowSize), index(0), average(0.0f) {
    if (size < 1) size = 1;
    if (size > maxSize) size = maxSize;
    for (float& v : values) v = 0.0f;
}

void FilterAverage::ResetFilter() {
    for (int i = 0; i < size; ++i) values[i] = 0.0f;
    index = 0;
    average = 0.0f;
}

float FilterAverage::GetNewAverage(float x) {
    index = index + 1;
    if (index >= size) index = 0;
    values[index] = x;
    float sum = 0.0f;
    for (int i = 0; i < size; ++i) sum += values[i];
    average = sum / float(size);
    return average;
}

}  // namespace DataTypes
