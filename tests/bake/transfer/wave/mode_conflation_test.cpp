// Mode conflation: the sinusoid fit recovers planted amplitudes and is well conditioned exactly
// when the frequencies are a window's reciprocal apart; the chord plan keeps its promises; and a
// chord of modes driven together gives each mode what a run of that mode alone gives.
#include "tools/bake/transfer/wave/mode_conflation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <set>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/surface/solid_primitives.h"
#include "tools/bake/transfer/wave/sinusoid_fit.h"
#include "tools/bake/transfer/wave/wave_transfer.h"

namespace {

using Complex = std::complex<double>;

// Signals sum_j Re{P_qj e^{i w_j t}} + noise at `samples` times spread over [t0, t0 + T].
SinusoidFit fitPlanted(const std::vector<double>& omegas, const Eigen::MatrixXcd& planted,
                       double t0, double T, int samples, double noise) {
    std::mt19937 random(11);
    std::normal_distribution<double> gauss(0.0, noise);
    SinusoidFit fit(omegas, int(planted.rows()));
    std::vector<double> values(size_t(planted.rows()));
    for (int n = 0; n < samples; ++n) {
        const double t = t0 + T * n / samples;
        for (Eigen::Index q = 0; q < planted.rows(); ++q) {
            double p = gauss(random);
            for (size_t j = 0; j < omegas.size(); ++j)
                p += (planted(q, Eigen::Index(j)) * std::exp(Complex(0, omegas[j] * t))).real();
            values[size_t(q)] = p;
        }
        fit.add(t, values.data());
    }
    fit.solve();
    return fit;
}

}  // namespace

// Five sinusoids 1 / T and more apart, sampled 40 times per period of the highest, with noise
// of 1e-3 of their amplitude: the amplitudes come back within 1e-3 (the noise over the root of
// the sample count, 6e-5 expected), the relative residual is the noise's share of the signal,
// and the condition number is below 1.3 (pairs correlate by sinc(pi df T), at most 0.22).
TEST(WaveSinusoidFit, RecoversPlantedAmplitudesWellSeparated) {
    const double T = 0.01;
    const std::vector<double> frequencies = {300, 400, 520, 700, 810};  // df T >= 1
    std::vector<double> omegas;
    for (double f : frequencies) omegas.push_back(2 * kPi * f);
    Eigen::MatrixXcd planted(3, 5);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> uniform(-1, 1);
    for (Eigen::Index e = 0; e < planted.size(); ++e)
        planted(e) = Complex(uniform(random), uniform(random));
    const SinusoidFit fit = fitPlanted(omegas, planted, 0.0123, T, int(40 * 810 * T), 1e-3);
    EXPECT_LT((fit.amplitudes() - planted).cwiseAbs().maxCoeff(), 1e-3);
    EXPECT_LT(fit.conditionNumber(), 1.3);
    for (Eigen::Index q = 0; q < 3; ++q) {
        // Signal mean square sum_j |P_j|^2 / 2, noise 1e-6.
        const double expected = std::sqrt(1e-6 / (0.5 * planted.row(q).squaredNorm()));
        EXPECT_NEAR(fit.relativeResiduals()[q], expected, 0.2 * expected);
    }
}

// Two sinusoids a quarter of 1 / T apart correlate by sinc(pi / 4) = 0.90 over the window, and
// the condition number sqrt((1 + 0.90) / (1 - 0.90)) is about 4.4: above 3; exactly 1 / T apart
// they are orthogonal (condition near 1).
TEST(WaveSinusoidFit, ConditionGrowsWhenFrequenciesAreCloserThanTheWindowResolves) {
    const double T = 0.01;
    const Eigen::MatrixXcd planted = Eigen::MatrixXcd::Constant(1, 2, Complex(1, 0.5));
    const int samples = 4000;
    const SinusoidFit close =
        fitPlanted({2 * kPi * 1000, 2 * kPi * 1025}, planted, 0, T, samples, 0);
    const SinusoidFit apart =
        fitPlanted({2 * kPi * 1000, 2 * kPi * 1100}, planted, 0, T, samples, 0);
    EXPECT_GT(close.conditionNumber(), 3.0);
    EXPECT_LT(apart.conditionNumber(), 1.1);
    // Without noise both still recover the amplitudes.
    EXPECT_LT((close.amplitudes() - planted).cwiseAbs().maxCoeff(), 1e-8);
}

// Sixty frequencies with close pairs (a bell's are split by a fraction of a per cent): every mode
// in one chord, members at least minSeparation_Hz apart, at most maxChordModes of them, spanning
// at most maxChordSpan, and the chords costliest first.
TEST(WaveChordPlan, KeepsSeparationSizeAndSpanCostliestFirst) {
    std::vector<double> frequencies;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> uniform(200, 8000);
    for (int i = 0; i < 30; ++i) {
        const double f = uniform(random);
        frequencies.push_back(f);
        frequencies.push_back(f * 1.004);
    }
    WaveSettings settings;
    const std::vector<Chord> chords = planChords(frequencies, Eigen::Vector3d(-0.3, -0.3, -0.3),
                                                 Eigen::Vector3d(0.3, 0.3, 0.3), 0.5, settings);
    std::multiset<int> seen;
    for (size_t c = 0; c < chords.size(); ++c) {
        const Chord& chord = chords[c];
        ASSERT_FALSE(chord.modes.empty());
        EXPECT_LE(int(chord.modes.size()), settings.maxChordModes);
        double lowest = 1e300, highest = 0;
        for (size_t a = 0; a < chord.modes.size(); ++a) {
            seen.insert(chord.modes[a]);
            const double fa = frequencies[size_t(chord.modes[a])];
            lowest = std::min(lowest, fa);
            highest = std::max(highest, fa);
            for (size_t b = a + 1; b < chord.modes.size(); ++b)
                EXPECT_GE(std::abs(fa - frequencies[size_t(chord.modes[b])]),
                          settings.minSeparation_Hz);
        }
        EXPECT_LE(highest, lowest * settings.maxChordSpan);
        if (c > 0) {
            EXPECT_GE(chords[c - 1].cost, chord.cost);
        }
    }
    EXPECT_EQ(seen.size(), frequencies.size());
    for (int mode = 0; mode < int(frequencies.size()); ++mode) EXPECT_EQ(seen.count(mode), 1u);
    EXPECT_LT(chords.size(), frequencies.size() / 2) << "chords should hold several modes";
}

// A box (10 x 6 x 8 cm) with three motions, a translation, a dilatation u = x - centre and a
// shear u = (y, x, 0), at 2.0, 3.4 and 4.9 kHz, all on the same grid (24 cells across the box):
// driven together in one chord and each alone, every mode's pressure at 40 points around the box
// agrees within 1e-3 of its norm (measured 8e-6, 2.6e-5, 7.6e-5: the transients' leftovers).
TEST(WaveChord, ChordGivesEachModeWhatItsOwnRunGives) {
    const Eigen::Vector3d lower(-0.05, -0.03, -0.04), upper(0.05, 0.03, 0.04);
    const SurfaceMesh box = makeBox(lower, upper);
    Eigen::MatrixXd shapes(3 * Eigen::Index(box.positions.size()), 3);
    for (size_t v = 0; v < box.positions.size(); ++v) {
        const Eigen::Vector3d& x = box.positions[v];
        shapes.block<3, 1>(3 * Eigen::Index(v), 0) = Eigen::Vector3d(0.3, -0.2, 1.0);
        shapes.block<3, 1>(3 * Eigen::Index(v), 1) = x / 0.05;
        shapes.block<3, 1>(3 * Eigen::Index(v), 2) = Eigen::Vector3d(x.y(), x.x(), 0) / 0.05;
    }
    const Eigen::Vector3d omegas = 2 * kPi * Eigen::Vector3d(2000, 3400, 4900);
    std::vector<Eigen::Vector3d> points;
    const double golden = kPi * (3 - std::sqrt(5.0));
    for (int i = 0; i < 40; ++i) {
        const double z = 1 - (2 * i + 1.0) / 40, s = std::sqrt(1 - z * z);
        points.push_back(0.09 *
                         Eigen::Vector3d(s * std::cos(golden * i), s * std::sin(golden * i), z));
    }
    WaveSettings settings;
    settings.threads = 2;
    settings.maxChordSpan = 3;
    const WaveTransfer together = computeWaveTransfer(box, shapes, omegas, points, settings);
    ASSERT_EQ(together.chords.size(), 1u);
    EXPECT_LT(together.chords[0].conditionNumber, 1.5);
    for (int mode = 0; mode < 3; ++mode) {
        ChordStatistics alone;
        const Eigen::MatrixXcd single =
            runChord(box, shapes.col(mode), {omegas[mode]}, points, settings, &alone);
        EXPECT_EQ(alone.h, together.chords[0].h) << "the runs must share their grid";
        const double difference =
            (together.pressure.col(mode) - single.col(0)).norm() / single.col(0).norm();
        std::printf("mode %d: chord against its own run %.2e, residual %.1e\n", mode, difference,
                    together.chords[0].residuals[size_t(mode)]);
        EXPECT_LT(difference, 1e-3) << "mode " << mode;
    }
}
