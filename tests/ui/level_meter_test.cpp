// The level meter's logarithmic scale and its colour ramp, as a reader of the meter sees them:
// known peaks light known rows, every segment spans the same 3.6 dB from -54 dB to full scale,
// full scale is where the row saturates, the row grows with the peak and stays bounded, and the
// ramp runs from dark blue through blue, cyan, yellow and red to dark red without jumps.
#include "ui/level_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The smallest peak that lights at least `segments` segments, found by bisection on a log scale
// between 1e-6 and 1e20.
double threshold(int segments) {
    double low = std::log(1e-6), high = std::log(1e20);
    for (int i = 0; i < 200; ++i) {
        const double middle = 0.5 * (low + high);
        (levelMeterSegments(std::exp(middle)) >= segments ? high : low) = middle;
    }
    return std::exp(high);
}

}  // namespace

// Peaks in decibels of full scale and the rows they light: 0.002 (-54 dB) is the first segment,
// and each further segment is a fifteenth of the 54 dB to full scale.
TEST(LevelMeter, KnownPeaksLightKnownRows) {
    EXPECT_EQ(levelMeterSegments(0.0), 0);     // silence
    EXPECT_EQ(levelMeterSegments(0.0019), 0);  // below -54 dB
    EXPECT_EQ(levelMeterSegments(0.002), 1);   // -54 dB
    EXPECT_EQ(levelMeterSegments(0.01), 4);    // -40 dB
    EXPECT_EQ(levelMeterSegments(0.1), 10);    // -20 dB
    EXPECT_EQ(levelMeterSegments(0.5), 14);    // -6 dB
    EXPECT_EQ(levelMeterSegments(0.999), 15);  // just below full scale
    EXPECT_EQ(levelMeterSegments(1.0), 16);    // full scale: saturated
    EXPECT_EQ(levelMeterSegments(2.0), 17);    // +6 dB: the row goes on
    EXPECT_EQ(levelMeterSegments(10.0), 21);   // +20 dB
    EXPECT_EQ(levelMeterSegments(1e15), 99);   // +300 dB, still below the bound
}

// The first segment lights at 0.002 and the sixteenth (saturation) exactly at full scale; between
// them each step up needs the same factor 0.002^(-1/15), 3.6 dB.
TEST(LevelMeter, EverySegmentSpansTheSameDecibelsUpToSaturationAtFullScale) {
    EXPECT_NEAR(threshold(1), 0.002, 1e-12);
    EXPECT_NEAR(threshold(16), 1.0, 1e-12);
    const double stepDecibels = 20.0 * std::log10(1.0 / 0.002) / 15.0;  // 3.5986 dB
    for (int n = 1; n < 30; ++n) {
        EXPECT_NEAR(20.0 * std::log10(threshold(n + 1) / threshold(n)), stepDecibels, 1e-9) << n;
    }
}

TEST(LevelMeter, RowNeverShrinksAsThePeakGrows) {
    int previous = 0;
    for (double dB = -80.0; dB <= 400.0; dB += 0.25) {
        const int lit = levelMeterSegments(std::pow(10.0, dB / 20.0));
        EXPECT_GE(lit, previous) << dB << " dB";
        EXPECT_LE(lit, previous + 1) << dB << " dB";  // no segment is skipped
        previous = lit;
    }
    EXPECT_EQ(previous, kMaxLevelMeterSegments);
}

TEST(LevelMeter, UnboundedPeaksLightABoundedRowAndNaNLightsNothing) {
    EXPECT_EQ(levelMeterSegments(1e16), kMaxLevelMeterSegments);
    EXPECT_EQ(levelMeterSegments(1e300), kMaxLevelMeterSegments);
    EXPECT_EQ(levelMeterSegments(std::numeric_limits<double>::infinity()), kMaxLevelMeterSegments);
    EXPECT_EQ(levelMeterSegments(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(levelMeterSegments(-1.0), 0);
}

// Named colours at the ramp's breakpoints, black below it and dark red above it.
TEST(ColorMap, RampRunsFromDarkBlueThroughBlueCyanYellowRedToDarkRed) {
    struct Stop {
        double v, r, g, b;
    };
    const Stop stops[] = {
        {-0.01, 0.0, 0.0, 0.0},  // black
        {0.0, 0.0, 0.0, 0.5},    // dark blue
        {0.125, 0.0, 0.0, 1.0},  // blue
        {0.375, 0.0, 1.0, 1.0},  // cyan
        {0.625, 1.0, 1.0, 0.0},  // yellow
        {0.875, 1.0, 0.0, 0.0},  // red
        {1.0, 0.5, 0.0, 0.0},    // dark red
        {1.5, 0.5, 0.0, 0.0},    // dark red beyond
    };
    for (const Stop& stop : stops) {
        double r, g, b;
        colorMap(stop.v, &r, &g, &b);
        EXPECT_DOUBLE_EQ(r, stop.r) << stop.v;
        EXPECT_DOUBLE_EQ(g, stop.g) << stop.v;
        EXPECT_DOUBLE_EQ(b, stop.b) << stop.v;
    }
}

TEST(ColorMap, RampIsContinuousWithinItsRangeAndStaysInTheUnitCube) {
    double r0, g0, b0;
    colorMap(0.0, &r0, &g0, &b0);
    for (int i = 1; i <= 100000; ++i) {
        const double v = i / 100000.0;
        double r, g, b;
        colorMap(v, &r, &g, &b);
        for (double c : {r, g, b}) {
            ASSERT_GE(c, 0.0) << v;
            ASSERT_LE(c, 1.0) << v;
        }
        // No jump: each component moves at most 4 per unit of v (a full swing over an eighth or
        // a quarter of the ramp), and at most two move at once.
        ASSERT_LE(std::fabs(r - r0) + std::fabs(g - g0) + std::fabs(b - b0), 8.0 * 1e-5 + 1e-12)
            << v;
        r0 = r, g0 = g, b0 = b;
    }
}
