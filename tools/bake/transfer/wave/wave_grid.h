// The regular grid of the wave tier: cubic cells of side h around the object and the points where
// the field is sampled, a time step the staggered scheme is stable with, and the absorbing layer's
// place. Made once per run (mode_conflation.h) from the box to cover and the run's highest
// frequency; read by the voxeliser, the solver and the probes.
//
// Layout, per axis of n cells (index 0 .. n-1):
//   0                     a ghost cell, pressure held at 0 (never updated)
//   1 .. L                the absorbing layer (L = pmlCells)
//   L+1 .. n-L-2          the interior: the object, the air around it, the sample points
//   n-L-1 .. n-2          the absorbing layer
//   n-1                   a ghost cell
// Cell (i, j, k) has its centre at origin + h (i + 1/2, j + 1/2, k + 1/2) and the flat index
// i + nx (j + ny k): x runs fastest, so a row along x is contiguous in memory.
#pragma once

#include <Eigen/Core>
#include <array>
#include <cstdint>

#include "tools/bake/transfer/wave/wave_settings.h"

struct WaveGrid {
    Eigen::Vector3d origin = Eigen::Vector3d::Zero();  // corner of cell (0, 0, 0), m
    double h = 0;                                      // cell side, m
    double dt = 0;                                     // time step, s
    std::array<int, 3> n = {0, 0, 0};                  // cells along x, y, z (ghosts included)
    int pmlCells = 0;
    int order = 2;  // of the spatial differences: 2 or 4 (WaveSettings::spatialOrder)

    int64_t cellCount() const { return int64_t(n[0]) * n[1] * n[2]; }
    int64_t index(int i, int j, int k) const { return i + int64_t(n[0]) * (j + int64_t(n[1]) * k); }
    // The inverse of index: the cell's (i, j, k).
    void coordinates(int64_t cell, int ijk[3]) const {
        ijk[0] = int(cell % n[0]);
        ijk[1] = int((cell / n[0]) % n[1]);
        ijk[2] = int(cell / (int64_t(n[0]) * n[1]));
    }
    // Flat-index step of one cell along `axis`.
    int64_t stride(int axis) const {
        return axis == 0 ? 1 : axis == 1 ? n[0] : int64_t(n[0]) * n[1];
    }
    Eigen::Vector3d cellCentre(int i, int j, int k) const {
        return origin + h * Eigen::Vector3d(i + 0.5, j + 0.5, k + 0.5);
    }
    // First and one-past-last interior cell along `axis`.
    int interiorBegin() const { return pmlCells + 1; }
    int interiorEnd(int axis) const { return n[axis] - pmlCells - 1; }
    // Interior box (the faces bounding the interior cells), m.
    Eigen::Vector3d interiorMin() const {
        return origin + h * Eigen::Vector3d::Constant(pmlCells + 1);
    }
    Eigen::Vector3d interiorMax() const {
        return origin +
               h * Eigen::Vector3d(n[0] - pmlCells - 1, n[1] - pmlCells - 1, n[2] - pmlCells - 1);
    }
};

// The grid for fields up to `topFrequency_Hz` over the box [boxMin, boxMax] (m; the object and
// every sample point): h = c / (topFrequency_Hz * cellsPerWavelength), the box centred in an
// interior that reaches settings.airCells cells beyond it on every side, then the absorbing layer
// and a ghost cell. The staggered scheme of wave_solver.h is stable for
// c dt <= h / (sqrt(3) s), s = |a| + |b| the sum of the difference's weights (s = 1 at second
// order, 9/8 + 1/24 = 7/6 at fourth; von Neumann: the largest eigenvalue of the discrete Laplacian
// is 12 s^2 / h^2, and mixing the two orders cell by cell as the solver does keeps that bound); dt
// = courantFraction h / (c sqrt(3) s). Preconditions: boxMax >= boxMin componentwise, positive
// topFrequency_Hz and cellsPerWavelength, courantFraction in (0, 1], at least one pmlCells, and
// airCells not negative.
WaveGrid makeWaveGrid(const Eigen::Vector3d& boxMin, const Eigen::Vector3d& boxMax,
                      double topFrequency_Hz, const WaveSettings& settings);

// The angular frequency at which the grid's waves have, averaged over directions, the wave
// number k = omega / c of the continuous medium. The staggered scheme's dispersion relation is
//   sin^2(omega' dt / 2) = (c dt / h)^2 sum_axes D^2(k d_axis h),
//   D(x) = sin(x / 2) (second order),  9/8 sin(x / 2) - 1/24 sin(3 x / 2) (fourth order),
// for a plane wave along the unit direction d. At second order its waves run a little slow along
// the axes (k h = 0.63, ten cells per wavelength: 1.2 % at 0.98 of the Courant limit) and almost
// exactly along the body diagonals. A run driven at omega' instead of omega carries the right wave
// number on average, and what is left is the anisotropy (+-0.6 % there): across an object 6
// wavelengths wide the phase error falls from about 0.45 to 0.2 radians. At fourth order the
// spatial error is (k h)^4 small and nearly all that is left is the time step's, the same in every
// direction, which omega' removes: the anisotropy at ten cells per wavelength is below 0.1 %.
double dispersionMatchedOmega(const WaveGrid& grid, double omega);
