// The "LOG PRESSURE" level meter's scale and colours: how many segments a peak lights on the
// logarithmic scale from 0.002 (about -54 dB) to full scale, and the blue-cyan-yellow-red ramp
// the segments are painted with. Pure functions, used by the frame display.
#pragma once

// Segments lit by a peak `value`: 0 below 0.002, else 1 + floor(15 (1 - ln value / ln 0.002));
// 0.002 lights 1, 1.0 lights 16 (saturation), larger values more.
// At most kMaxLevelMeterSegments, however large (or infinite) the value.
int levelMeterSegments(double value);
constexpr int kMaxLevelMeterSegments = 100;

// The meter's colour ramp at v: black below 0, dark blue at 0 to blue, cyan, yellow, red, and
// dark red above 1. Writes r, g, b in 0..1.
void colorMap(double v, double* r, double* g, double* b);
