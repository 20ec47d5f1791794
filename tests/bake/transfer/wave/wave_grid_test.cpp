// The drive frequency that matches the grid's numerical wave number to the medium's, against the
// staggered scheme's dispersion relation solved in closed form along the axes and the body
// diagonals, where the grid's waves are slowest and fastest.
#include "tools/bake/transfer/wave/wave_grid.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/bake/common/physical_constants.h"

namespace {

// omega' of a plane wave of wave number k along a unit direction with `axes` equal non-zero
// components (1: an axis, 3: a body diagonal): sin(omega' dt / 2) = (c dt / h) sqrt(axes)
// sin(k h / (2 sqrt(axes))).
double planeWaveOmega(const WaveGrid& grid, double k, int axes) {
    const double courant = kSpeedOfSound_ms * grid.dt / grid.h;
    const double s = std::sqrt(double(axes)) * std::sin(k * grid.h / (2 * std::sqrt(double(axes))));
    return 2 * std::asin(courant * s) / grid.dt;
}

}  // namespace

TEST(WaveGrid, DispersionMatchedFrequencyLiesBetweenTheAxisAndTheDiagonal) {
    WaveSettings settings;
    const Eigen::Vector3d lower(0, 0, 0), upper(0.3, 0.2, 0.1);
    for (double cells : {6.0, 10.0, 20.0}) {
        settings.cellsPerWavelength = cells;
        const double f = 4000;
        const WaveGrid grid = makeWaveGrid(lower, upper, f, settings);
        const double omega = 2 * kPi * f, k = omega / kSpeedOfSound_ms;
        const double matched = dispersionMatchedOmega(grid, omega);
        const double axis = planeWaveOmega(grid, k, 1), diagonal = planeWaveOmega(grid, k, 3);
        SCOPED_TRACE(::testing::Message()
                     << cells << " cells per wavelength: axis " << axis / omega << ", diagonal "
                     << diagonal / omega << ", matched " << matched / omega);
        // The grid's waves are slow along the axes: a wave of wave number k there needs a lower
        // frequency; along the diagonals, near the Courant limit, almost exactly omega.
        EXPECT_LT(axis, diagonal);
        EXPECT_GT(matched, axis);
        EXPECT_LT(matched, diagonal);
        EXPECT_LT(matched, omega);
        // The error is second order: (k h)^2 / 24 along an axis for a small time step.
        const double kh = k * grid.h;
        EXPECT_GT(1 - matched / omega, 0.1 * kh * kh / 24);
        EXPECT_LT(1 - matched / omega, kh * kh / 24);
    }
}
