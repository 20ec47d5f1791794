// The field comparisons against closed forms: a monopole's power, the cap average of a linear
// pattern, the invariance of directivity to scale, and speckle that the cap average removes while
// the point-by-point error keeps it at the level its statistics predict.
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>

#include "tools/bake/transfer/bem/bem_solve.h"

namespace {

using Complex = std::complex<double>;

TEST(RadiationMetrics, FibonacciPointsCoverTheSphereEvenly) {
    const Eigen::Vector3d centre(0.3, -0.1, 2.0);
    const std::vector<Eigen::Vector3d> points = fibonacciSphere(3000, 1.7, centre);
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    int upperOctant = 0;
    for (const Eigen::Vector3d& p : points) {
        EXPECT_NEAR((p - centre).norm(), 1.7, 1e-12);
        mean += (p - centre) / 3000.0;
        upperOctant += (p - centre).minCoeff() > 0;
    }
    EXPECT_LT(mean.norm(), 1e-3);
    EXPECT_NEAR(upperOctant / 3000.0, 1.0 / 8, 0.01);
}

// A monopole p = A e^{-ikr} / r radiates W = 4 pi |A|^2 / (2 rho c) through any sphere about it.
TEST(RadiationMetrics, MonopolePowerMatchesClosedForm) {
    const double k = 50, radius = 3.0;
    const Complex amplitude(0.7, -1.1);
    const std::vector<Eigen::Vector3d> points =
        fibonacciSphere(500, radius, Eigen::Vector3d::Zero());
    Eigen::VectorXcd pressure(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        pressure[i] = amplitude * std::exp(Complex(0, -k * radius)) / radius;
    const double expected =
        4 * kPi * std::norm(amplitude) / (2 * kAirDensity_kgm3 * kSpeedOfSound_ms);
    EXPECT_NEAR(radiatedPower(pressure, radius), expected, 1e-12 * expected);
}

// A dipole-like field against itself is 0 dB in every measure; doubled, its power is 6.02 dB
// higher and its directivity, smoothed or not, unchanged.
TEST(RadiationMetrics, ScaleChangesPowerOnly) {
    const Eigen::Vector3d centre(1, 2, 3);
    const std::vector<Eigen::Vector3d> points = fibonacciSphere(1500, 2.0, centre);
    Eigen::VectorXcd field(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const Eigen::Vector3d u = (points[i] - centre).normalized();
        field[i] = Complex(u.z(), 0.3 * u.x() * u.y()) + 0.2;
    }
    const RadiationComparison same = compareRadiation(points, centre, field, field);
    EXPECT_EQ(same.powerErrorDb, 0);
    EXPECT_EQ(same.smoothedDirectivityDb, 0);
    EXPECT_EQ(same.pointwiseDirectivityDb, 0);
    const RadiationComparison doubled = compareRadiation(points, centre, 2.0 * field, field);
    EXPECT_NEAR(doubled.powerErrorDb, 20 * std::log10(2.0), 1e-12);  // 6.02 dB
    EXPECT_NEAR(doubled.smoothedDirectivityDb, 0, 1e-12);
    EXPECT_NEAR(doubled.pointwiseDirectivityDb, 0, 1e-12);
}

// Over a cap of angular radius alpha about u, the mean of the direction is u (1 + cos alpha) / 2,
// so an energy pattern 1 + 0.5 z averages to 1 + 0.5 u_z (1 + cos alpha) / 2.
TEST(RadiationMetrics, CapAverageOfLinearPatternMatchesClosedForm) {
    const std::vector<Eigen::Vector3d> points = fibonacciSphere(4000, 1.0, Eigen::Vector3d::Zero());
    Eigen::VectorXcd field(points.size());
    for (size_t i = 0; i < points.size(); ++i) field[i] = std::sqrt(1 + 0.5 * points[i].z());
    // The pattern's cap average departs from its point value by 0.5 u_z (1 - cos alpha) / 2:
    // 0.03 at alpha = 0.5, 0.11 at alpha = 1; a cap of 48 to 900 samples is good to 5e-3.
    for (double alpha : {kDefaultCapHalfAngle, 0.5, 1.0}) {
        const Eigen::VectorXd averaged =
            capAveragedEnergy(points, Eigen::Vector3d::Zero(), field, alpha);
        double worst = 0;
        for (size_t i = 0; i < points.size(); ++i)
            worst = std::max(worst, std::abs(averaged[i] - (1 + 0.5 * points[i].z() *
                                                                    (1 + std::cos(alpha)) / 2)));
        EXPECT_LT(worst, 5e-3) << "alpha " << alpha;
    }
    EXPECT_NEAR(kDefaultCapHalfAngle, 12.5 * kPi / 180, 1e-15);  // a cap 25 degrees across
}

// A smooth pattern s against s (1 + eps e^{i phi}) with phi random per point (speckle): each
// point's energy is off by |1 + eps e^{i phi}|^2, whose dB RMS over phi (after the mean
// normalisation, a factor 1 + eps^2) the point-by-point error must reproduce; the cap average
// sees about a dozen points per cap and removes most of it.
TEST(RadiationMetrics, CapAverageRemovesSpeckle) {
    const std::vector<Eigen::Vector3d> points = fibonacciSphere(3000, 1.0, Eigen::Vector3d::Zero());
    const double eps = 0.5;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> phase(0, 2 * kPi);
    Eigen::VectorXcd smooth(points.size()), speckled(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        smooth[i] = 1.0 + 0.8 * points[i].z() * points[i].z() + Complex(0, 0.4) * points[i].x();
        speckled[i] = smooth[i] * (1.0 + eps * std::exp(Complex(0, phase(random))));
    }
    // E over phi of (10 log10(|1 + eps e^{i phi}|^2 / (1 + eps^2)))^2 by the midpoint rule.
    double expected = 0;
    const int steps = 100000;
    for (int j = 0; j < steps; ++j) {
        const double phi = 2 * kPi * (j + 0.5) / steps;
        const double db =
            10 * std::log10((1 + eps * eps + 2 * eps * std::cos(phi)) / (1 + eps * eps));
        expected += db * db / steps;
    }
    expected = std::sqrt(expected);  // 3.1 dB for eps = 0.5
    const RadiationComparison c =
        compareRadiation(points, Eigen::Vector3d::Zero(), speckled, smooth);
    EXPECT_NEAR(c.pointwiseDirectivityDb, expected, 0.1 * expected);
    EXPECT_LT(c.smoothedDirectivityDb, 0.35 * expected);
    EXPECT_NEAR(c.powerErrorDb, 10 * std::log10(1 + eps * eps), 0.2);
}

}  // namespace
