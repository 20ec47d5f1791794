// Small statistics over the baker's per-mode figures (report lines, the loudness calibration's
// strikes).
#pragma once

#include <algorithm>
#include <vector>

// The median of `values` (the mean of the two middle ones for an even count); 0 when empty.
inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}
