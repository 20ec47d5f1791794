// The level meter's logarithmic scale and its colour ramp.
#include "ui/level_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(LevelMeter, SegmentsFollowTheLogScaleFromMinus54DbToFullScale) {
    EXPECT_EQ(levelMeterSegments(0.0), 0);
    EXPECT_EQ(levelMeterSegments(0.0019), 0);
    EXPECT_EQ(levelMeterSegments(0.002), 1);
    EXPECT_EQ(levelMeterSegments(0.999), 15);
    EXPECT_EQ(levelMeterSegments(1.0), 16);  // saturation: more than 15 segments
    // Each segment is 1/15 of the 54 dB range: a level of 0.002^(1 - 7.5/15) lights 8.
    EXPECT_EQ(levelMeterSegments(std::pow(0.002, 0.5)), 8);
    // Beyond full scale the row continues: 2.0 lights 1 + floor(15 (1 + ln 2 / -ln 0.002)).
    EXPECT_EQ(levelMeterSegments(2.0),
              1 + static_cast<int>(15.0 * (1.0 + std::log(2.0) / -std::log(0.002))));
}

TEST(LevelMeter, UnboundedPeaksLightABoundedRowAndNaNLightsNothing) {
    EXPECT_EQ(levelMeterSegments(std::numeric_limits<double>::infinity()), kMaxLevelMeterSegments);
    EXPECT_EQ(levelMeterSegments(1e300), kMaxLevelMeterSegments);
    EXPECT_EQ(levelMeterSegments(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(ColorMap, RampPassesThroughBlueCyanYellowRed) {
    double r, g, b;
    colorMap(1.0 / 30.0, &r, &g, &b);  // the first segment's colour: dark blue
    EXPECT_DOUBLE_EQ(r, 0.0);
    EXPECT_DOUBLE_EQ(g, 0.0);
    EXPECT_DOUBLE_EQ(b, (8.0 / 30.0 + 1.0) / 2.0);
    colorMap(0.375, &r, &g, &b);  // cyan
    EXPECT_DOUBLE_EQ(r, 0.0);
    EXPECT_DOUBLE_EQ(g, 1.0);
    EXPECT_DOUBLE_EQ(b, 1.0);
    colorMap(0.625, &r, &g, &b);  // yellow
    EXPECT_DOUBLE_EQ(r, 1.0);
    EXPECT_DOUBLE_EQ(g, 1.0);
    EXPECT_DOUBLE_EQ(b, 0.0);
    colorMap(-0.01, &r, &g, &b);
    EXPECT_EQ(r + g + b, 0.0);
    colorMap(1.5, &r, &g, &b);
    EXPECT_DOUBLE_EQ(r, 0.5);
    EXPECT_EQ(g + b, 0.0);
}

TEST(ColorMap, RampIsContinuousAtItsBreakpointsAboveZero) {
    for (double v : {0.125, 0.375, 0.625, 0.875, 1.0}) {
        double r0, g0, b0, r1, g1, b1;
        colorMap(std::nextafter(v, 0.0), &r0, &g0, &b0);
        colorMap(v, &r1, &g1, &b1);
        EXPECT_NEAR(r0, r1, 1e-12) << v;
        EXPECT_NEAR(g0, g1, 1e-12) << v;
        EXPECT_NEAR(b0, b1, 1e-12) << v;
    }
}
