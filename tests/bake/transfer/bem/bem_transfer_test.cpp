// The whole transfer stage on spheres, whose fields are one source at the centre: the fit finds
// that source with the closed-form coefficient and the held-out check agrees; and the sampling
// helpers put their points where the fit needs them.
#include "tools/bake/transfer/bem/bem_transfer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace {

using Complex = std::complex<double>;

}  // namespace

TEST(TransferStage, SphereModesAreOneSourceAtTheCentre) {
    // Pulsating (v_n = 1) and oscillating (v_n = n_z) sphere at ka = 1.
    const double a = 0.15, ka = 1.0, k = ka / a, omega = k * kSpeedOfSound_ms;
    const Eigen::Vector3d centre(0.02, -0.01, 0.03);
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;
    makeIcosphere(3, a, centre, &vertices, &triangles);
    const BemSurface surface = makeBemSurface(vertices, triangles);
    // Velocities given at the vertices, as the baker has them: the unit radial and the unit z.
    std::vector<double> radial(3 * vertices.size()), along(3 * vertices.size(), 0.0);
    for (size_t v = 0; v < vertices.size(); ++v) {
        const Eigen::Vector3d n = (vertices[v] - centre).normalized();
        for (int c = 0; c < 3; ++c) radial[3 * v + c] = n[c];
        along[3 * v + 2] = 1;
    }
    Eigen::MatrixXd vn(surface.elements.size(), 2);
    vn.col(0) = elementNormalVelocity(surface, triangles, radial.data());
    vn.col(1) = elementNormalVelocity(surface, triangles, along.data());

    TransferSettings settings;
    settings.tolerance = 0.02;
    settings.maxSources = 120;
    settings.fitPointCount = 400;
    settings.heldOutPointCount = 100;
    settings.candidatesPerAxis = 5;  // odd: the centre is also a grid cell centre
    const std::vector<ModeTransfer> modes =
        computeModeTransfers(surface, vn, omega, settings, BemOptions{});
    ASSERT_EQ(modes.size(), 2u);
    for (const ModeTransfer& m : modes) {
        EXPECT_DOUBLE_EQ(m.waveNumber, k);
        EXPECT_TRUE(m.bemConverged);
        ASSERT_EQ(m.sources.cols(), 1);
        EXPECT_LT((m.sources.col(0).head<3>() - centre).norm(), 1e-12);
        EXPECT_LT(m.fitError, 0.02);
        EXPECT_LT(m.heldOutError, 0.02);
        EXPECT_FALSE(m.reachedCap);
    }
    // Closed forms: p = C e^{-ikr}/r = -i k C h0(kr) with C = i w rho a^2 e^{ika} / (1 + ika);
    // p = B h1(kr) cos theta with B k h1'(ka) = -i w rho (unit velocity along z).
    const double rho = kAirDensity_kgm3;
    const Complex c = Complex(0, omega * rho * a * a) * std::exp(Complex(0, ka)) / Complex(1, ka);
    const Complex a0 = Complex(0, -k) * c;
    const Complex derivative = sphericalHankel0(ka) - 2.0 * sphericalHankel1(ka) / ka;
    const Complex a1 = Complex(0, -omega * rho) / (k * derivative);
    const auto& mono = modes[0].sources;
    const auto& dip = modes[1].sources;
    EXPECT_LT(std::abs(Complex(mono(3, 0), mono(4, 0)) - a0), 0.02 * std::abs(a0));
    EXPECT_LT(Eigen::Vector3d(mono(5, 0), mono(7, 0), mono(9, 0)).norm(), 0.02 * std::abs(a0));
    EXPECT_LT(std::abs(Complex(dip(5, 0), dip(6, 0)) - a1), 0.02 * std::abs(a1));
    EXPECT_LT(std::hypot(dip(3, 0), dip(4, 0)), 0.02 * std::abs(a1));
}

TEST(TransferStage, FitAndHeldOutSurfacesEncloseTheObject) {
    const Eigen::Vector3d boxMin(-0.3, 0, -0.1), boxMax(0.3, 0.9, 0.1);
    for (double margin : {0.05, 0.4}) {
        const auto points = boxSurfacePoints(boxMin, boxMax, margin, 500);
        ASSERT_EQ(points.size(), 500u);
        Eigen::Vector3d lo = points[0], hi = points[0];
        for (const Eigen::Vector3d& p : points) {
            // On the grown box: outside the object's box by exactly the margin along some axis.
            const Eigen::Vector3d outside =
                (boxMin - p).cwiseMax(p - boxMax).cwiseMax(Eigen::Vector3d::Zero());
            EXPECT_NEAR(outside.maxCoeff(), margin, 1e-12);
            lo = lo.cwiseMin(p);
            hi = hi.cwiseMax(p);
        }
        // Spread over all six faces.
        EXPECT_LT((lo - (boxMin - Eigen::Vector3d::Constant(margin))).norm(), 0.1);
        EXPECT_LT((hi - (boxMax + Eigen::Vector3d::Constant(margin))).norm(), 0.1);
    }
    const auto candidates = candidateSourcePositions(boxMin, boxMax, 9);
    for (const Eigen::Vector3d& c : candidates) {
        EXPECT_TRUE((c.array() > boxMin.array()).all() && (c.array() < boxMax.array()).all());
    }
    EXPECT_EQ(candidates.size(), 1u + 6 * 9 * 2);  // centre + cells 6 x 9 x 2
}
