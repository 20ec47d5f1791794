// The fractal surface profile: unit RMS whatever its design, the spectral slope it is designed
// for, and the ball's smoothing of the rolling profile.
#include "sound/roughness_profile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/periodogram.h"

namespace {

// `count` samples of the profile of `design`, from a generator seeded apart from the design's
// own measuring run.
std::vector<double> profileSamples(const RoughnessProfileDesign& design, int count, uint64_t seed) {
    RoughnessProfile profile;
    profile.noiseState = seed;
    for (int i = 0; i < 10000; ++i) profile.next(design);
    std::vector<double> samples(count);
    for (double& s : samples) s = profile.next(design);
    return samples;
}

double rms(const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += x * x;
    return std::sqrt(sum / v.size());
}

// Power spectrum averaged over `segments` independent runs of 2^14 samples.
std::vector<double> averagedSpectrum(const RoughnessProfileDesign& design, int segments) {
    std::vector<double> average;
    for (int s = 0; s < segments; ++s) {
        const std::vector<double> power =
            powerSpectrum(profileSamples(design, 1 << 14, 0x1234567ull + 7919ull * s));
        if (average.empty()) average.assign(power.size(), 0.0);
        for (size_t k = 0; k < power.size(); ++k) average[k] += power[k] / segments;
    }
    return average;
}

}  // namespace

TEST(RoughnessProfile, HasUnitRmsForEveryDesign) {
    for (ContactKind kind : {ContactKind::kScrape, ContactKind::kRoll}) {
        for (double slope : {0.0, 1.0, 1.5, 2.0}) {
            for (double radius : {0.002, 0.008, 0.03}) {
                SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << " slope "
                                                << slope << " radius " << radius);
                const RoughnessProfileDesign design = designRoughnessProfile(kind, slope, radius);
                // Another seed than the design's measuring run: the gain holds for the process,
                // not for one sequence. Long-wavelength profiles fluctuate most.
                const double value = rms(profileSamples(design, 1 << 18, 0xABCDEF12345ull));
                EXPECT_NEAR(value, 1.0, 0.15);
            }
        }
    }
}

TEST(RoughnessProfile, PowerFallsWithTheDesignedSpectralSlope) {
    // Inside the band (cycles per sample 0.02 .. 0.5) the power per bin falls as f^-beta:
    // compare the bands around 0.05 and 0.2, a factor 4 apart. The band is short (1.4 decades)
    // and its corners round the slope, so the tolerance is wide; the slope must also grow with
    // beta.
    double previous = -1.0;
    for (double slope : {0.5, 1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << "slope " << slope);
        const RoughnessProfileDesign design =
            designRoughnessProfile(ContactKind::kScrape, slope, 0.0);
        const std::vector<double> power = averagedSpectrum(design, 16);
        const double low = bandPower(power, 0.04, 0.06) / 0.02;
        const double high = bandPower(power, 0.16, 0.24) / 0.08;
        const double measuredSlope = std::log(low / high) / std::log(4.0);
        EXPECT_GT(measuredSlope, previous + 0.2);
        previous = measuredSlope;
        EXPECT_NEAR(measuredSlope, slope, 0.4);
    }
}

TEST(RoughnessProfile, LargerBallRollsSmoother) {
    // The footprint 2 sqrt(2 R delta0) grows with the radius: less of the profile's short
    // wavelengths reach the rolling force.
    double previousCentroid = 1e300;
    for (double radius : {0.001, 0.008, 0.05}) {
        const RoughnessProfileDesign design =
            designRoughnessProfile(ContactKind::kRoll, 1.5, radius);
        const double centroid = spectralCentroid(averagedSpectrum(design, 8), 1.0);
        EXPECT_LT(centroid, previousCentroid) << "radius " << radius;
        previousCentroid = centroid;
    }
}

TEST(RoughnessProfile, RollingForceIsOneSidedAndIntermittent) {
    // The ball pushes, never pulls, and touches only where the smoothed profile rises above its
    // RMS height: a Gaussian-like profile exceeds 1 sigma about 16 % of the path.
    const RoughnessProfileDesign design = designRoughnessProfile(ContactKind::kRoll, 1.5, 0.008);
    const std::vector<double> force = profileSamples(design, 1 << 17, 42);
    long touching = 0;
    for (double f : force) {
        ASSERT_GE(f, 0.0);
        touching += f > 0.0;
    }
    const double fraction = static_cast<double>(touching) / force.size();
    EXPECT_GT(fraction, 0.05);
    EXPECT_LT(fraction, 0.35);
}
