// The contact force read along the path: brighter with speed, as the profile's spectrum moves up
// in proportion to v, louder with it, as its power grows with v, and continuous when the speed
// changes.
#include "sound/contact_excitation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/periodogram.h"

namespace {

// `blocks` blocks of 220 samples of the excitation at a steady speed.
std::vector<double> steadyExcitation(const RoughnessProfileDesign& design, double speed,
                                     int blocks) {
    ContactExcitation excitation;
    std::vector<double> signal(blocks * 220);
    for (int b = 0; b < blocks; ++b) {
        excitation.generate(design, 1.0, speed, speed, 220, &signal[b * 220]);
    }
    // Drop the first block: the DC blocker settling from rest.
    return std::vector<double>(signal.begin() + 220, signal.end());
}

}  // namespace

TEST(ContactExcitation, FasterContactHasHigherSpectralCentroid) {
    for (ContactKind kind : {ContactKind::kScrape, ContactKind::kRoll}) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind));
        const RoughnessProfileDesign design = designRoughnessProfile(kind, 1.5, 0.008);
        double previous = 0.0;
        for (double speed : {0.05, 0.3, 1.5}) {
            const double centroid =
                spectralCentroid(powerSpectrum(steadyExcitation(design, speed, 600)), 44100.0);
            EXPECT_GT(centroid, previous * 1.3) << "speed " << speed;
            previous = centroid;
        }
    }
}

TEST(ContactExcitation, SpectrumScalesWithSpeed) {
    // Reading the profile at twice the speed maps each spatial wavelength to twice the temporal
    // frequency (f = v k): the power the profile holds between spatial frequencies k1 and k2
    // sounds between v k1 and v k2 (Parseval), and the force's power grows with the speed: at
    // twice the speed, twice the power in the mapped band.
    const RoughnessProfileDesign design = designRoughnessProfile(ContactKind::kScrape, 1.0, 0.0);
    const std::vector<double> slow = powerSpectrum(steadyExcitation(design, 0.2, 2400));
    const std::vector<double> fast = powerSpectrum(steadyExcitation(design, 0.4, 2400));
    // 400 .. 1600 Hz at 0.2 m/s against 800 .. 3200 Hz at 0.4 m/s (cycles per sample).
    const double slowBand = bandPower(slow, 400.0 / 44100, 1600.0 / 44100);
    const double fastBand = bandPower(fast, 800.0 / 44100, 3200.0 / 44100);
    EXPECT_NEAR(std::log2(fastBand / slowBand), 1.0, 0.3);
}

TEST(ContactExcitation, StandingContactGoesQuiet) {
    // No motion, no new profile: the force is constant, and only its change sounds; the DC
    // blocker takes the constant to zero.
    const RoughnessProfileDesign design = designRoughnessProfile(ContactKind::kScrape, 1.5, 0.0);
    ContactExcitation excitation;
    std::vector<double> signal(220);
    for (int b = 0; b < 20; ++b) excitation.generate(design, 1.0, 0.5, 0.5, 220, signal.data());
    for (int b = 0; b < 400; ++b) excitation.generate(design, 1.0, 0.0, 0.0, 220, signal.data());
    for (double s : signal) EXPECT_LT(std::fabs(s), 1e-6);
}
