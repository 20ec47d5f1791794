// The time-domain solver of the wave tier: linear acoustics on the staggered grid of wave_grid.h,
// the object's staircase boundary driven by the modes' velocities (boundary_faces.h), an
// absorbing layer on every side. A run (mode_conflation.h) makes one, steps it a few thousand
// times and samples its pressure (pressure_probes.h) as it goes.
//
// Scheme (Yee's staggered grid, second order in time, float32): pressure p at cell
// centres and integer times t_n = n dt; the velocity component u_a on the faces normal to axis a
// (u_a of cell c sits on the face between c and c + e_a) at half times t_{n+1/2}. From
//   rho du/dt = -grad p,   dp/dt = -rho c^2 div u,
// one step is
//   u_a^{n+1/2} = u_a^{n-1/2} - dt / (rho h) (p^n(c + e_a) - p^n(c)),
//   p^{n+1}(c)  = p^n(c) - rho c^2 dt / h sum_a (u_a^{n+1/2}(c) - u_a^{n+1/2}(c - e_a)).
// Its numerical dispersion relation is
//   sin^2(w dt / 2) / (c dt)^2 = sum_a sin^2(k_a h / 2) / h^2,
// stable for c dt <= h / sqrt(3). Along an axis, with nu = c dt / h, the phase velocity is low
// by (k h)^2 (1 - nu^2) / 24 (1.1 % at ten cells per wavelength with c dt at 0.98 of the limit);
// along the diagonal at the limit it is exact.
//
// Fourth order in space (WaveSettings::spatialOrder 4): every difference above becomes
//   D q(c) = 9/8 (q(c + 1) - q(c)) - 1/24 (q(c + 2) - q(c - 1))   (along the axis, in cells)
// where its four points lie in the open air of the interior: on the face at the + side of every
// cell whose cells up to two away along every axis are air outside the layer ("open" cells).
// Every other face (next to the object, in and next to the layer) keeps the two-point difference,
// and the divergence is built as minus the transpose of that gradient, face by face,
//   div_a u(c) = a_c u(c) - a_{c-1} u(c-1) - b_{c+1} u(c+1) + b_{c-2} u(c-2),
//   (a, b) = (9/8, 1/24) on a four-point face, (1, 0) on a two-point one,
// so the mixed scheme conserves the discrete energy as each pure one does, and is stable for
// c dt <= h / (sqrt(3) 7/6). Along an axis its spatial error is 3/640 (k h)^4 (0.07 % at ten cells
// per wavelength), and what is left is the time step's, +(omega dt)^2 / 24 in every direction,
// which the drive at the dispersion-matched frequency removes (wave_grid.h).
//
// Object: the pressure of solid cells is held at 0 and every face between a solid and an air cell
// carries the velocity the modes prescribe (the sum over modes of amplitude x weight, the weights
// given per step); the air never sees the inside of the solid.
//
// Absorbing layer (Berenger's split-field perfectly matched layer): inside the layer the pressure
// is the sum of three parts, each damped along its own axis,
//   du_a/dt + sigma_a u_a = -(1/rho) d_a p,   dp_a/dt + sigma_a p_a = -rho c^2 d_a u_a,
// with sigma_a(d) = sigmaMax d^m over the depth d in [0, 1] into the layer, and
// sigmaMax = -(m + 1) c ln(R) / (2 L h) for the normal-incidence reflection R of the continuous
// layer (WaveSettings). Each equation advances with the centred (Crank-Nicolson) damping:
//   q^{new} = (1 - sigma dt / 2) / (1 + sigma dt / 2) q^{old} + dt / (1 + sigma dt / 2) rhs.
// Outside the layer sigma = 0 and the velocity update is the plain one; the pressure is split only
// in the layer's cells. Behind the layer a ghost cell holds p = 0.
//
// One sweep per step: slab by slab along z, the velocities of slab k and then its pressure, which
// needs u_z of slab k - 1 (already new) and p of slab k + 1 (still old, for u_z of slab k). So p
// and u_z are kept twice, old and new, and each block of slabs first recomputes u_z of the slab
// below it from the old values into a buffer of its own: blocks share no data that changes
// within the step, and run on settings.threads threads (parallel_for.h). A cell update moves
// about 32 bytes over the memory bus when the grid is larger than the caches (p, u_x, u_y, u_z
// read once and written once; the neighbouring slabs come from the cache); two sweeps, one for
// the velocities and one for the pressure, moved 48. The sweeps' loops are contiguous float runs
// along x that GCC vectorises, built twice and chosen by the CPU at load time (AVX2 with FMA, or
// the baseline). Measured on the bell's grid at ten cells per wavelength at 8 kHz (5.3 M cells):
// about 4.6e8 cell updates per second of one core's time (bench/wave_solver_bench.cpp).
#pragma once

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

#include "tools/bake/transfer/wave/boundary_faces.h"
#include "tools/bake/transfer/wave/cut_cells.h"
#include "tools/bake/transfer/wave/wave_grid.h"

class WaveSolver {
  public:
    // solid: voxelize's cells for `grid`; faces: the boundary faces of that solid
    // (findBoundaryFaces); faceModeVelocity: faces x modes, the velocity of each face per unit of
    // each mode's weight (faceVelocities), m/s. Starts at rest, t = 0. Allocates about
    // 27 bytes per cell plus 12 per layer cell.
    // With `cut` (the cut cells of the same solid, cut_cells.h), those cells' pressure takes the
    // cut-cell update instead, driven by cutFlux (cut cells x modes, the flux Q of each cut cell
    // per unit of each mode's weight, m^3/s); the boundary faces then carry no velocity of their
    // own (faceModeVelocity is ignored) and the fourth-order stencils keep two cells away from
    // the cut cells.
    WaveSolver(const WaveGrid& grid, const std::vector<uint8_t>& solid,
               const std::vector<BoundaryFace>& faces, const Eigen::MatrixXd& faceModeVelocity,
               const WaveSettings& settings, const CutCells* cut = nullptr,
               const Eigen::MatrixXd& cutFlux = Eigen::MatrixXd());

    // Advances from t_n to t_{n+1}: the velocities to t_{n+1/2}, the boundary faces set to
    // sum_j faceModeVelocity(f, j) modeWeights[j] (the weights at t_{n+1/2}), then the pressure
    // (of the cut cells from their openings and sum_j cutFlux(c, j) modeWeights[j]).
    void step(const double* modeWeights);

    // The pressure at t_n (Pa), one value per cell (WaveGrid::index); 0 in solid and ghost cells.
    const float* pressure() const { return p_.data(); }
    int64_t stepCount() const { return steps_; }
    double time() const { return double(steps_) * grid_.dt; }  // t_n, s
    const WaveGrid& grid() const { return grid_; }
    int modeCount() const { return modes_; }

  private:
    // u_z^{n+1/2} of slab k into `out` (that slab's storage, nx ny values), its z faces prescribed.
    void velocityZ(int k, float* out) const;
    // u_x and u_y of slab k in place, their faces prescribed.
    void velocityXY(int k);
    // Fourth order: the four-point part of one velocity component of slab k (see the .cpp).
    void fourthOrderVelocity(int k, int64_t stride, float* u, int64_t slab) const;
    // Fourth order: openRuns_ and pressureRuns_ from open_.
    void findFourthOrderRuns();
    // p^{n+1} of slab k into the new pressure, from the new u_z of slabs k - 2 .. k + 1 at
    // uz[0 .. 3] (each the start of its slab; only uz[1] and uz[2] at second order).
    void pressure(int k, const float* const uz[4]);
    void sweepBlock(int block);
    // The prescribed velocity of boundary face f (sum_j A(f, j) w_j).
    float faceVelocity(int f) const;
    // The new pressure of cut cells [first, last) (cut_cells.h), after the sweep.
    void cutCellPressure(size_t first, size_t last);

    WaveGrid grid_;
    int threads_ = 0, modes_ = 0;
    int blockSlabs_ = 0;  // slabs per block of the sweep
    int64_t steps_ = 0;
    // Old and new pressure and u_z (swapped after each step); u_x and u_y in place.
    std::vector<float> p_, pNext_, ux_, uy_, uz_, uzNext_;
    // Per block, the new u_z of the slabs next to it that other blocks write: k0 - 1 at second
    // order; k0 - 2, k0 - 1 and k1 at fourth. One slab of zeros stands for slabs outside the grid.
    std::vector<float> halo_, zeroSlab_;
    // Fourth order: 1 for a cell whose cells up to two away along every axis are air of the
    // interior. The face on the + side of such a cell along any axis takes the four-point
    // difference; every other face the two-point one.
    std::vector<uint8_t> open_;
    // Runs of cells along x: of open cells (whose + faces take the four-point difference), and of
    // interior cells off the layer by how many of the ten faces their divergence reads are open.
    struct CellRun {
        enum Kind : int { kTwoPoint, kFourPoint, kMixed };
        int begin = 0, end = 0;
        int kind = kTwoPoint;
    };
    std::vector<CellRun> openRuns_, pressureRuns_;
    // Each row's runs (row j + ny k): [rowRuns[r], rowRuns[r + 1]).
    std::vector<int64_t> openRowRuns_, pressureRowRuns_;
    // Layer coefficients per axis: velocity faces (uA, uB) and pressure cells (pA, pB), indexed
    // by the position along that axis.
    std::vector<float> uA_[3], uB_[3], pA_[3], pB_[3];
    float pressureFactor_ = 0;  // rho c^2 dt / h
    float velocityFactor_ = 0;  // dt / (rho h)
    // The layer's split pressure parts, packed per row of cells along x (rowSplit_ gives each
    // row's first entry; rows inside the layer in y or z hold nx - 2 entries, the others 2 L).
    std::vector<float> split_[3];
    std::vector<int64_t> rowSplit_;
    // Boundary faces by slab z and axis: [slabFaces_[3 k + a], slabFaces_[3 k + a + 1]).
    std::vector<int> slabFaces_;
    std::vector<int64_t> faceCell_;
    std::vector<float> faceAmplitude_;  // faces x modes, row-major, in slab order
    std::vector<int64_t> slabSolid_, solidCells_;
    std::vector<float> weights_;
    // Cut cells: their flat indices, rho c^2 dt / (h V), the openings of their six faces, and
    // the drive per unit weight of each mode, rho c^2 dt Q / (h^3 V) (row-major, cells x modes).
    std::vector<int64_t> cutCells_;
    std::vector<float> cutDivergence_, cutFlux_;
    std::vector<std::array<float, 6>> cutAperture_;
};

// The layer's damping sigma (1/s) at depth d in [0, 1] (0 at the interior's edge).
double pmlSigma(double depth, const WaveGrid& grid, const WaveSettings& settings);
