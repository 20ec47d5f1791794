// Level meter scale and colour ramp.
#include "ui/level_meter.h"

#include <cmath>

int levelMeterSegments(double value) {
    if (!(value >= 0.002)) return 0;  // also silence a NaN peak
    // A peak far beyond full scale (an unstable setting, an infinite sample) still lights a
    // bounded row: 100 segments is a peak of about 10^15 (+300 dB).
    const double n = 1.0 + std::floor(15.0 * (1.0 - std::log(value) / std::log(0.002)));
    return n < kMaxLevelMeterSegments ? static_cast<int>(n) : kMaxLevelMeterSegments;
}

void colorMap(double v, double* r, double* g, double* b) {
    if (v < 0.0) {
        *r = 0, *g = 0, *b = 0;
    } else if (v < 0.125) {
        *r = 0, *g = 0, *b = (8.0 * v + 1.0) / 2.0;
    } else if (v < 0.375) {
        *r = 0, *g = 4.0 * (v - 0.125), *b = 1;
    } else if (v < 0.625) {
        *r = 4.0 * (v - 0.375), *g = 1, *b = 1.0 - 4.0 * (v - 0.375);
    } else if (v < 0.875) {
        *r = 1, *g = 1.0 - 4.0 * (v - 0.625), *b = 0;
    } else if (v <= 1.0) {
        *r = 1.0 - 4.0 * (v - 0.875), *g = 0, *b = 0;
    } else {
        *r = 0.5, *g = 0, *b = 0;
    }
}
