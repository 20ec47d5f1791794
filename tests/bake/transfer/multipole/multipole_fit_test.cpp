// The stored source representation and its fit: Hankel functions and angular factors against
// closed forms, the program's sum against the basis the fit uses, and the greedy fit recovering
// planted sources.
#include "tools/bake/transfer/multipole/multipole_fit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "tools/bake/transfer/multipole/field_fit.h"

namespace {

using Complex = std::complex<double>;

std::vector<Eigen::Vector3d> spherePoints(double radius, int count, const Eigen::Vector3d& centre) {
    std::vector<Eigen::Vector3d> points;
    for (int i = 0; i < count; ++i) {
        const double z = 1 - 2 * (i + 0.5) / count, ring = std::sqrt(1 - z * z);
        points.push_back(centre + radius * Eigen::Vector3d(ring * std::cos(2.39996 * i),
                                                           ring * std::sin(2.39996 * i), z));
    }
    return points;
}

}  // namespace

TEST(MultipoleBasis, HankelFunctionsAreTheOutgoingClosedForms) {
    // Second kind: h0(x) = i e^{-ix} / x, h1(x) = -e^{-ix} (x - i) / x^2.
    for (double x : {0.01, 0.7, 3.0, 40.0}) {
        const Complex e = std::exp(Complex(0, -x));
        EXPECT_LT(std::abs(sphericalHankel0(x) - Complex(0, 1) * e / x), 1e-12 * std::abs(e / x));
        const Complex h1 = -e * Complex(x, -1) / (x * x);
        EXPECT_LT(std::abs(sphericalHankel1(x) - h1), 1e-12 * std::abs(h1));
    }
}

TEST(MultipoleBasis, ProgramSumEqualsBasisFieldsEverywhere) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(-1, 1);
    MultipoleSources sources(11, 3);
    sources.setZero();
    for (int j = 0; j < 3; ++j)
        for (int r = 0; r < 11; ++r) sources(r, j) = u(random);
    const double k = 9.0;
    std::vector<Eigen::Vector3d> points = spherePoints(2.5, 40, Eigen::Vector3d::Zero());
    // Straight above a source: the horizontal distance is zero.
    points.push_back(sources.col(1).head<3>() + Eigen::Vector3d(0, 0, 0.7));
    for (const Eigen::Vector3d& x : points) {
        Complex expected = 0;
        for (int j = 0; j < 3; ++j) {
            const auto b = multipoleBasis(sources.col(j).head<3>(), k, x);
            for (int l = 0; l < 4; ++l)
                expected += Complex(sources(3 + 2 * l, j), sources(4 + 2 * l, j)) * b[l];
        }
        const Complex got = evaluateMultipoles(sources, k, x);
        EXPECT_LT(std::abs(got - expected), 1e-12 * std::abs(expected)) << x.transpose();
    }
}

TEST(MultipoleBasis, OrderOneTermsMakeAnyDipole) {
    // a1 = d_z, a2 = (d_x + i d_y)/2, a3 = (-d_x + i d_y)/2 radiate h1(kr) d.(x - O)/r, and a lone
    // a0 = 1 gives |h0| = 1/(kr).
    const Eigen::Vector3d origin(0.1, -0.2, 0.3);
    const Eigen::Vector3cd d(Complex(0.3, -1), Complex(2, 0.5), Complex(-0.7, 0.2));
    const double k = 4.0;
    MultipoleSources dipole(11, 1);
    dipole.col(0) = multipoleColumn(origin, {0, d.z(), (d.x() + Complex(0, 1) * d.y()) / 2.0,
                                             (-d.x() + Complex(0, 1) * d.y()) / 2.0});
    MultipoleSources monopole(11, 1);
    monopole.col(0) = multipoleColumn(origin, {1, 0, 0, 0});
    for (const Eigen::Vector3d& x : spherePoints(0.8, 20, origin)) {
        const Eigen::Vector3d rHat = (x - origin).normalized();
        const Complex expected =
            sphericalHankel1(k * 0.8) * (d.transpose() * rHat.cast<Complex>())(0);
        EXPECT_LT(std::abs(evaluateMultipoles(dipole, k, x) - expected),
                  1e-12 * std::abs(d.norm()));
        EXPECT_NEAR(std::abs(evaluateMultipoles(monopole, k, x)), 1 / (k * 0.8), 1e-12);
    }
}

TEST(MultipoleFit, RecoversPlantedSources) {
    const Eigen::Vector3d boxMin(-0.2, -0.1, -0.3), boxMax(0.2, 0.1, 0.3);
    const std::vector<Eigen::Vector3d> candidates = candidateSourcePositions(boxMin, boxMax, 6);
    const double k = 12.0;
    // Three sources at candidate positions, every coefficient non-zero.
    const int planted[3] = {0, 17, 40};
    std::mt19937 random(3);
    std::uniform_real_distribution<double> u(-1, 1);
    MultipoleSources truth(11, 3);
    for (int s = 0; s < 3; ++s) {
        std::array<Complex, 4> a;
        for (Complex& c : a) c = Complex(u(random), u(random));
        truth.col(s) = multipoleColumn(candidates[planted[s]], a);
    }
    const std::vector<Eigen::Vector3d> points = boxSurfacePoints(boxMin, boxMax, 0.08, 500);
    Eigen::VectorXcd p(points.size());
    for (size_t i = 0; i < points.size(); ++i) p[i] = evaluateMultipoles(truth, k, points[i]);

    // One source per greedy step, and several: the extra picks of a step are pruned again.
    for (int blocksPerStep : {1, 8}) {
        SCOPED_TRACE(blocksPerStep);
        const MultipoleFit fit = fitMultipoles(points, p, k, candidates, 1e-10, 10, blocksPerStep);
        ASSERT_EQ(fit.sources.cols(), 3);
        EXPECT_FALSE(fit.reachedCap);
        EXPECT_LT(fit.relativeError, 1e-10);
        for (int s = 0; s < 3; ++s) {
            int match = -1;
            for (int t = 0; t < 3; ++t)
                if ((fit.sources.col(s).head<3>() - truth.col(t).head<3>()).norm() < 1e-12)
                    match = t;
            ASSERT_GE(match, 0) << "source " << s << " at an unplanted position";
            EXPECT_LT((fit.sources.col(s).tail<8>() - truth.col(match).tail<8>()).norm(), 1e-7);
        }
    }
}

TEST(MultipoleFit, SeveralBlocksPerStepFitAsFewSourcesAsOne) {
    // Forty planted sources off the candidate grid, at k R of about 10: no candidate is exact,
    // and the fit to 5 % needs tens of sources. Taking eight per step must not buy its speed
    // with a worse fit or many more sources.
    const Eigen::Vector3d boxMin(-0.3, -0.2, -0.2), boxMax(0.3, 0.2, 0.2);
    const std::vector<Eigen::Vector3d> candidates = candidateSourcePositions(boxMin, boxMax, 10);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(-1, 1);
    MultipoleSources truth(11, 40);
    for (int s = 0; s < 40; ++s) {
        std::array<Complex, 4> a;
        for (Complex& c : a) c = Complex(u(random), u(random));
        const Eigen::Vector3d x(0.25 * u(random), 0.15 * u(random), 0.15 * u(random));
        truth.col(s) = multipoleColumn(x, a);
    }
    const double k = 25.0;
    const std::vector<Eigen::Vector3d> points = boxSurfacePoints(boxMin, boxMax, 0.06, 1200);
    Eigen::VectorXcd p(points.size());
    for (size_t i = 0; i < points.size(); ++i) p[i] = evaluateMultipoles(truth, k, points[i]);
    const MultipoleFit one = fitMultipoles(points, p, k, candidates, 0.05, 250, 1);
    const MultipoleFit eight = fitMultipoles(points, p, k, candidates, 0.05, 250, 8);
    ASSERT_FALSE(one.reachedCap);
    EXPECT_FALSE(eight.reachedCap);
    EXPECT_LE(eight.relativeError, 0.05);
    EXPECT_GT(one.sources.cols(), 10);
    EXPECT_LE(double(eight.sources.cols()), 1.15 * double(one.sources.cols()))
        << "one per step: " << one.sources.cols();
}

TEST(MultipoleFit, CapStopsTheFitAndIsReported) {
    // A field of many sources cannot be met by two.
    const Eigen::Vector3d boxMin(-0.2, -0.2, -0.2), boxMax(0.2, 0.2, 0.2);
    const std::vector<Eigen::Vector3d> candidates = candidateSourcePositions(boxMin, boxMax, 4);
    MultipoleSources truth(11, 8);
    for (int s = 0; s < 8; ++s)
        truth.col(s) = multipoleColumn(candidates[1 + 7 * s], {1.0, Complex(0, 1), 0.5, -0.3});
    const std::vector<Eigen::Vector3d> points = boxSurfacePoints(boxMin, boxMax, 0.05, 400);
    Eigen::VectorXcd p(points.size());
    for (size_t i = 0; i < points.size(); ++i) p[i] = evaluateMultipoles(truth, 20.0, points[i]);
    const MultipoleFit fit = fitMultipoles(points, p, 20.0, candidates, 0.01, 2);
    EXPECT_EQ(fit.sources.cols(), 2);
    EXPECT_TRUE(fit.reachedCap);
    EXPECT_GT(fit.relativeError, 0.01);
    EXPECT_LT(fit.relativeError, 1.0);  // still better than no source at all
}

TEST(MultipoleFit, SilentFieldNeedsNoSources) {
    const std::vector<Eigen::Vector3d> points = spherePoints(1, 50, Eigen::Vector3d::Zero());
    const MultipoleFit fit =
        fitMultipoles(points, Eigen::VectorXcd::Zero(50), 3.0, {Eigen::Vector3d::Zero()}, 0.05, 10);
    EXPECT_EQ(fit.sources.cols(), 0);
    EXPECT_EQ(fit.relativeError, 0);
}

TEST(MultipoleFit, FieldThatIsNotANumberIsReportedNotStoredSilent) {
    // A solve that failed leaves samples that are not numbers: the fit stores no sources, and
    // the mode is reported above the tolerance instead of passing as a silent one.
    const Eigen::Vector3d boxMin(-0.2, -0.2, -0.2), boxMax(0.2, 0.2, 0.2);
    TransferSettings settings;
    const FieldSamples samples = fieldSamplesFor(boxMin, boxMax, 20.0, settings);
    Eigen::MatrixXcd fitPressure =
        Eigen::MatrixXcd::Ones(Eigen::Index(samples.fitPoints.size()), 1);
    const Eigen::MatrixXcd heldOut =
        Eigen::MatrixXcd::Ones(Eigen::Index(samples.heldOutPoints.size()), 1);
    fitPressure(3, 0) = std::numeric_limits<double>::quiet_NaN();
    const MultipoleFit fit =
        fitMultipoles(samples.fitPoints, fitPressure.col(0), 20.0, samples.candidates, 0.05, 10);
    EXPECT_EQ(fit.sources.cols(), 0);
    EXPECT_FALSE(std::isfinite(fit.relativeError));
    EXPECT_TRUE(fit.reachedCap);
    const std::vector<ModeTransfer> modes =
        fitSampledFields(samples, fitPressure, heldOut, 20.0 * 343.0, 20.0, settings);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_TRUE(modes[0].aboveTolerance);
    EXPECT_EQ(modes[0].sources.cols(), 0);
}

// Too few samples for the field: 400 planted sources at k R of about 28 seen at 500 points, the
// cap letting the unknowns approach the samples (1 % on the samples, 28 % at the held-out
// points). The samples keep being fitted better while the field between and beyond them is
// fitted worse; watching the held-out points, the fit stops
// where their error was least, with fewer sources, and is better beyond them too (at points it
// never saw, three times as far out). Where the samples pin the field down, the watch changes
// nothing.
TEST(MultipoleFit, HeldOutWatchStopsBeforeTheSamplesAliasesAreFitted) {
    const Eigen::Vector3d boxMin(-0.2, -0.2, -0.2), boxMax(0.2, 0.2, 0.2);
    const std::vector<Eigen::Vector3d> candidates = candidateSourcePositions(boxMin, boxMax, 9);
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(-1, 1);
    auto plant = [&](int count, double spread) {
        MultipoleSources truth(11, count);
        for (int s = 0; s < count; ++s) {
            std::array<Complex, 4> a;
            for (Complex& c : a) c = Complex(u(random), u(random));
            truth.col(s) =
                multipoleColumn(spread * Eigen::Vector3d(u(random), u(random), u(random)), a);
        }
        return truth;
    };
    auto sampled = [](const MultipoleSources& sources, double k,
                      const std::vector<Eigen::Vector3d>& points) {
        Eigen::VectorXcd p(points.size());
        for (size_t i = 0; i < points.size(); ++i) p[i] = evaluateMultipoles(sources, k, points[i]);
        return p;
    };
    auto errorAt = [&](const MultipoleFit& fit, double k,
                       const std::vector<Eigen::Vector3d>& points, const Eigen::VectorXcd& truth) {
        return (sampled(fit.sources, k, points) - truth).norm() / truth.norm();
    };
    const double k = 80.0;
    const std::vector<Eigen::Vector3d> points = boxSurfacePoints(boxMin, boxMax, 0.05, 500);
    const std::vector<Eigen::Vector3d> heldPoints = boxSurfacePoints(boxMin, boxMax, 0.1, 400);
    const std::vector<Eigen::Vector3d> farPoints = boxSurfacePoints(boxMin, boxMax, 0.3, 400);

    const MultipoleSources many = plant(400, 0.18);
    const Eigen::VectorXcd p = sampled(many, k, points), held = sampled(many, k, heldPoints),
                           far = sampled(many, k, farPoints);
    const MultipoleFit plain = fitMultipoles(points, p, k, candidates, 0.01, 120, 1);
    const MultipoleFit watched = fitMultipolesUntil(
        points, p, k, candidates, {0.01}, 120, 1, [](const MultipoleFit&) { return true; },
        HeldOutField{&heldPoints, &held});
    const double plainHeld = errorAt(plain, k, heldPoints, held);
    const double watchedHeld = errorAt(watched, k, heldPoints, held);
    EXPECT_TRUE(watched.stoppedAtHeldOut);
    EXPECT_TRUE(watched.reachedCap);
    EXPECT_LT(watched.sources.cols(), plain.sources.cols());
    EXPECT_LT(plain.relativeError, watched.relativeError);  // the samples are fitted better...
    EXPECT_LT(watchedHeld, 0.85 * plainHeld);               // ...and the field around them worse
    EXPECT_LT(errorAt(watched, k, farPoints, far), 0.85 * errorAt(plain, k, farPoints, far));

    const MultipoleSources few = plant(30, 0.15);
    const Eigen::VectorXcd q = sampled(few, k, points), heldFew = sampled(few, k, heldPoints);
    const MultipoleFit plainFew = fitMultipoles(points, q, k, candidates, 0.03, 120, 1);
    const MultipoleFit watchedFew = fitMultipolesUntil(
        points, q, k, candidates, {0.03}, 120, 1, [](const MultipoleFit&) { return true; },
        HeldOutField{&heldPoints, &heldFew});
    EXPECT_FALSE(watchedFew.stoppedAtHeldOut);
    EXPECT_EQ(watchedFew.sources.cols(), plainFew.sources.cols());
    EXPECT_EQ(watchedFew.relativeError, plainFew.relativeError);
}
