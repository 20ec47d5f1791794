// Sine and cosine of four lanes at once against the C library, over the arguments the transfer
// evaluation meets (k r from 0 to 1e5), including the quadrant boundaries where the reduction and
// the swap of sine and cosine matter.
#include "sound/vector_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

TEST(VectorLanes, SineAndCosineAgreeWithTheLibraryToTheLastPlaces) {
    std::vector<double> arguments = {0.0, -0.0, 1e-300, 1e-8, 0.5, -0.7853981633974483, 1.0, 3.0};
    for (int q = -40; q <= 40; ++q) {
        const double boundary = q * 1.5707963267948966;
        for (double offset : {-1e-9, 0.0, 1e-9, 0.78, -0.78})
            arguments.push_back(boundary + offset);
    }
    std::mt19937 random(11);
    std::uniform_real_distribution<double> near(-20.0, 20.0), far(-1e5, 1e5);
    for (int i = 0; i < 20000; ++i) arguments.push_back(i % 2 ? near(random) : far(random));
    while (arguments.size() % 4) arguments.push_back(2.0);

    double worst = 0.0;
    for (size_t i = 0; i < arguments.size(); i += 4) {
        const ModeLanes x = {arguments[i], arguments[i + 1], arguments[i + 2], arguments[i + 3]};
        ModeLanes s, c;
        sineCosineLanes(x, &s, &c);
        for (int l = 0; l < 4; ++l) {
            worst = std::fmax(worst, std::fabs(s[l] - std::sin(x[l])));
            worst = std::fmax(worst, std::fabs(c[l] - std::cos(x[l])));
        }
    }
    EXPECT_LT(worst, 5e-16);
}

TEST(VectorLanes, SineOfTinyArgumentsIsTheArgument) {
    const ModeLanes x = {1e-300, -1e-20, 1e-10, 0.0};
    ModeLanes s, c;
    sineCosineLanes(x, &s, &c);
    for (int l = 0; l < 4; ++l) {
        EXPECT_EQ(s[l], x[l]);
        EXPECT_EQ(c[l], 1.0);
    }
}

// The quadrant is read from the bits of the rounded x (2/pi), negative quadrants included: sine is
// odd and cosine even to the last bit, and a shift by pi/2 turns sine into cosine.
TEST(VectorLanes, SineIsOddAndCosineEvenInEveryQuadrant) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> u(0.0, 1e5);
    for (int i = 0; i < 5000; ++i) {
        const double a = i < 100 ? 0.25 * i : u(random);
        const ModeLanes x = {a, -a, a + 1.5707963267948966, -a - 1.5707963267948966};
        ModeLanes s, c;
        sineCosineLanes(x, &s, &c);
        EXPECT_EQ(s[1], -s[0]) << a;
        EXPECT_EQ(c[1], c[0]) << a;
        EXPECT_EQ(s[3], -s[2]) << a;
        EXPECT_EQ(c[3], c[2]) << a;
        // a + pi/2 is rounded to the last place of a (1.5e-11 at 1e5).
        EXPECT_NEAR(s[2], c[0], 2e-11) << a;
        EXPECT_NEAR(c[2], -s[0], 2e-11) << a;
    }
}
