// Tier C end to end: the blocked share of each triangle's radiation (none on a convex solid, most
// of it inside a cup) and where it leaves (a bell's cavity through its mouth), its power in closed
// form, and the stored sources of a sphere harmonic against the sphere's exact field. A baked
// scene's tier C mode against boundary elements is in transfer/baked_transfer_test.cpp.
#include "tools/bake/transfer/high_frequency/high_frequency_transfer.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <complex>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"

namespace {

using Complex = std::complex<double>;

TEST(HighFrequencyTransfer, BlockedRadiationIsNoneOnAConvexSolidAndLeavesACupThroughItsMouth) {
    const SurfaceMesh ball = makeIcosphere(3, 0.1);
    for (double share : blockedRadiationShare(ball, 1)) EXPECT_EQ(share, 0.0);

    // The bell: triangles facing its axis (the inside of the waist and sound bow) radiate into
    // the cavity, most of it onto the opposite wall; the outside sees the open air.
    BellParameters p;
    p.profileSpacing = 0.03;
    p.ringSpacing = 0.08;
    const SurfaceMesh bell = makeBellSurface(p);
    const std::vector<double> share = blockedRadiationShare(bell, 2);
    double inside = 0, outside = 0;
    int insideCount = 0, outsideCount = 0;
    for (size_t t = 0; t < bell.triangles.size(); ++t) {
        const auto& tri = bell.triangles[t];
        const Eigen::Vector3d& a = bell.positions[tri[0]];
        const Eigen::Vector3d c = (a + bell.positions[tri[1]] + bell.positions[tri[2]]) / 3;
        const Eigen::Vector3d n = (bell.positions[tri[1]] - a).cross(bell.positions[tri[2]] - a);
        const Eigen::Vector3d radial(c.x(), 0, c.z());
        if (radial.norm() < 0.05 || std::abs(n.normalized().y()) > 0.5) continue;  // crown, lip
        if (n.dot(radial) < 0) {
            inside += share[t];
            ++insideCount;
        } else {
            outside += share[t];
            ++outsideCount;
        }
    }
    ASSERT_GT(insideCount, 20);
    ASSERT_GT(outsideCount, 20);
    EXPECT_GT(inside / insideCount, 0.5);
    EXPECT_LT(outside / outsideCount, 0.05);

    // Followed from wall to wall, the cavity's rays leave through the mouth (the bell hangs mouth
    // down, -y), and none is lost: the power by direction adds up to the blocked power.
    const std::vector<Eigen::Vector3d> bins = fibonacciSphere(400, 1.0, Eigen::Vector3d::Zero());
    const BlockedRadiation traced = traceBlockedRadiation(bell, bins, 2);
    ASSERT_EQ(traced.share, share);
    int escaped = 0, downwards = 0, trapped = 0;
    for (int bin : traced.escapeBin) {
        if (bin == kTrapped) {
            ++trapped;
            continue;
        }
        ++escaped;
        if (bins[bin].y() < 0) ++downwards;
    }
    ASSERT_GT(escaped, 1000);
    EXPECT_LT(trapped, 0.05 * escaped);
    EXPECT_GT(downwards, 0.9 * escaped);
    Eigen::VectorXd velocity = Eigen::VectorXd::Random(3 * bell.positions.size());
    Eigen::VectorXd perBin = Eigen::VectorXd::Zero(bins.size());
    const double trappedPower = blockedRadiationByDirection(bell, traced, velocity, &perBin);
    EXPECT_NEAR(perBin.sum() + trappedPower, blockedRadiationPower(bell, share, velocity),
                1e-12 * blockedRadiationPower(bell, share, velocity));
}

TEST(HighFrequencyTransfer, BlockedPowerIsThePlaneWaveRateOverTheBlockedShare) {
    // One triangle in the z = 0 plane (normal +z), area 1/2, its corners moving along z at 1, 2
    // and 3 m/s: the mean of v_n^2 over it is (1 + 4 + 9 + 2 + 6 + 3) / 6 = 25/6 (m/s)^2.
    SurfaceMesh mesh;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.triangles = {{0, 1, 2}};
    Eigen::VectorXd velocity = Eigen::VectorXd::Zero(9);
    velocity << 0, 0, 1, 0, 0, 2, 0, 0, 3;
    const double rhoC = kAirDensity_kgm3 * kSpeedOfSound_ms;
    EXPECT_NEAR(blockedRadiationPower(mesh, {0.25}, velocity), 0.25 * 0.5 * rhoC * 25.0 / 6 * 0.5,
                1e-12);
    EXPECT_EQ(blockedRadiationPower(mesh, {0.0}, velocity), 0.0);
}

TEST(HighFrequencyTransfer, SphereHarmonicKeepsItsPowerAndSmoothDirectivity) {
    // A zonal harmonic of degree 5 on a sphere at ka = 20: what the program plays (the stored
    // sources) against the exact field on a sphere of twice the fit radius's, where nothing was
    // fitted. The sphere is convex, so nothing is blocked and no diffuse field is added.
    const double a = 0.1, ka = 20, k = ka / a, omega = k * kSpeedOfSound_ms;
    const int l = 5;
    const SurfaceMesh ball = makeIcosphere(4, a);
    Eigen::MatrixXd velocity(3 * ball.positions.size(), 1);
    for (size_t v = 0; v < ball.positions.size(); ++v)
        velocity.block<3, 1>(3 * v, 0) =
            harmonic(l, 0, ball.positions[v]) * ball.positions[v].normalized();
    const HighFrequencySamples samples = makeHighFrequencySamples(ball, 2);
    TransferSettings settings;
    settings.tolerance = 0.15;
    const std::vector<HighFrequencyTransfer> result =
        computeHighFrequencyTransfers(ball, samples, velocity, omega, settings);
    ASSERT_EQ(result.size(), 1u);
    const ModeTransfer& t = result[0].transfer;
    EXPECT_LE(t.fitError, 0.15);
    EXPECT_GT(t.sources.cols(), 0);
    const std::vector<Eigen::Vector3d> far =
        fibonacciSphere(1000, 2 * samples.fitRadius, samples.centre);
    const Complex factor = Complex(0, -kAirDensity_kgm3 * kSpeedOfSound_ms) *
                           sphericalHankels(l, k * 2 * samples.fitRadius)[l] /
                           sphericalHankelDerivative(l, ka);
    Eigen::VectorXcd exact(far.size()), stored(far.size());
    for (size_t i = 0; i < far.size(); ++i) {
        exact[i] = factor * harmonic(l, 0, far[i]);
        stored[i] = evaluateMultipoles(t.sources, k, far[i]);
    }
    const RadiationComparison error = compareRadiation(far, samples.centre, stored, exact);
    // The stored field is the cap-averaged one, so the comparison (which averages both) widens
    // its lobes a second time: hence bounds looser than the tier's own fit (the trace prints the
    // figures).
    SCOPED_TRACE(::testing::Message() << "power " << error.powerErrorDb << " dB, smoothed "
                                      << error.smoothedDirectivityDb << " dB");
    EXPECT_LT(std::abs(error.powerErrorDb), 1.0);
    EXPECT_LT(error.smoothedDirectivityDb, 2.0);
}

}  // namespace
