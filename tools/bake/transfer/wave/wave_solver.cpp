// The staggered-grid solver with its absorbing layer (see wave_solver.h).
#include "tools/bake/transfer/wave/wave_solver.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>

#include "tools/bake/common/parallel_for.h"
#include "tools/bake/common/physical_constants.h"

// The sweeps in two versions, chosen once at load time by the CPU (GCC's function
// multi-versioning): AVX2 with FMA where the processor has them (x86-64-v3), the baseline
// elsewhere. Measured on the bell's grid: about a fifth more updates per second with AVX2.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TONWELL_SWEEP_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define TONWELL_SWEEP_CLONES
#endif

namespace {

// Slabs per block of the sweep: each block recomputes one slab of u_z (1/8 more of that work).
constexpr int kBlockSlabs = 8;

// The layer's pressure over cells [begin, end) of a row: each part damped along its own axis,
//   p_a = A_a p_a - B_a (u_a(c) - u_a(c - e_a)),   p = p_x + p_y + p_z.
// Pointers to the row's entries (qx .. qz shifted so that index i is cell i); uyBelow is u_y of
// the row below, uzBelow u_z of the slab below. A function of its own with restrict pointers, so
// that GCC vectorises it.
TONWELL_SWEEP_CLONES void splitPressureRun(
    int begin, int end, float* __restrict qx, float* __restrict qy, float* __restrict qz,
    float* __restrict p, const float* __restrict ax, const float* __restrict bx, float ay, float by,
    float az, float bz, const float* __restrict ux, const float* __restrict uy,
    const float* __restrict uyBelow, const float* __restrict uz, const float* __restrict uzBelow) {
    for (int i = begin; i < end; ++i) {
        qx[i] = ax[i] * qx[i] - bx[i] * (ux[i] - ux[i - 1]);
        qy[i] = ay * qy[i] - by * (uy[i] - uyBelow[i]);
        qz[i] = az * qz[i] - bz * (uz[i] - uzBelow[i]);
        p[i] = qx[i] + qy[i] + qz[i];
    }
}

// The pressure over cells [begin, end) of a row off the layer, p = pOld - K div u, the divergence
// from two-point differences. Pointers to the row's entries (index i is cell i); uy - sy is u_y of
// the row below, uzb u_z of the slab below.
TONWELL_SWEEP_CLONES void twoPointPressureRun(int begin, int end, float* __restrict p,
                                              const float* __restrict pOld, float K,
                                              const float* __restrict ux,
                                              const float* __restrict uy, int64_t sy,
                                              const float* __restrict uz,
                                              const float* __restrict uzb) {
    for (int i = begin; i < end; ++i)
        p[i] = pOld[i] - K * (ux[i] - ux[i - 1] + uy[i] - uy[i - sy] + uz[i] - uzb[i]);
}

// The same where all ten faces the divergence reads are open: four-point differences throughout.
// uza is u_z of the slab above, uzb2 two below.
TONWELL_SWEEP_CLONES void fourPointPressureRun(
    int begin, int end, float* __restrict p, const float* __restrict pOld, float K,
    const float* __restrict ux, const float* __restrict uy, int64_t sy, const float* __restrict uz,
    const float* __restrict uzb, const float* __restrict uza, const float* __restrict uzb2) {
    for (int i = begin; i < end; ++i) {
        const float near = ux[i] - ux[i - 1] + uy[i] - uy[i - sy] + uz[i] - uzb[i];
        const float far = ux[i + 1] - ux[i - 2] + uy[i + sy] - uy[i - 2 * sy] + uza[i] - uzb2[i];
        p[i] = pOld[i] - K * (1.125f * near - (1.f / 24) * far);
    }
}

// The same where some of the ten faces are open: each face's four-point part weighted by its open
// flag o (the row's flags; sz the flat step of a slab).
TONWELL_SWEEP_CLONES void mixedPressureRun(int begin, int end, float* __restrict p,
                                           const float* __restrict pOld, float K,
                                           const float* __restrict ux, const float* __restrict uy,
                                           int64_t sy, const float* __restrict uz,
                                           const float* __restrict uzb, const float* __restrict uza,
                                           const float* __restrict uzb2,
                                           const uint8_t* __restrict o, int64_t sz) {
    for (int i = begin; i < end; ++i) {
        const float two = ux[i] - ux[i - 1] + uy[i] - uy[i - sy] + uz[i] - uzb[i];
        const float near = float(o[i]) * (ux[i] + uy[i] + uz[i]) - float(o[i - 1]) * ux[i - 1] -
                           float(o[i - sy]) * uy[i - sy] - float(o[i - sz]) * uzb[i];
        const float far = float(o[i + 1]) * ux[i + 1] - float(o[i - 2]) * ux[i - 2] +
                          float(o[i + sy]) * uy[i + sy] - float(o[i - 2 * sy]) * uy[i - 2 * sy] +
                          float(o[i + sz]) * uza[i] - float(o[i - 2 * sz]) * uzb2[i];
        p[i] = pOld[i] - K * (two + 0.125f * near - (1.f / 24) * far);
    }
}

}  // namespace

double pmlSigma(double depth, const WaveGrid& grid, const WaveSettings& settings) {
    if (depth <= 0) return 0;
    const int m = settings.pmlOrder;
    // R = exp(-2 / c int_0^{L h} sigma dx) = exp(-2 sigmaMax L h / ((m + 1) c)).
    const double sigmaMax = -(m + 1) * kSpeedOfSound_ms * std::log(settings.pmlReflection) /
                            (2 * grid.pmlCells * grid.h);
    return sigmaMax * std::pow(std::min(depth, 1.0), m);
}

WaveSolver::WaveSolver(const WaveGrid& grid, const std::vector<uint8_t>& solid,
                       const std::vector<BoundaryFace>& faces,
                       const Eigen::MatrixXd& faceModeVelocity, const WaveSettings& settings,
                       const CutCells* cut, const Eigen::MatrixXd& cutFlux)
    : grid_(grid),
      threads_(settings.threads),
      modes_(int(cut ? cutFlux.cols() : faceModeVelocity.cols())) {
    assert(int64_t(solid.size()) == grid.cellCount());
    assert(grid.order == 2 || grid.order == 4);
    assert(cut || faceModeVelocity.rows() == Eigen::Index(faces.size()));
    assert(!cut || cutFlux.rows() == Eigen::Index(cut->cells.size()));
    const size_t cells = size_t(grid.cellCount());
    for (auto* field : {&p_, &pNext_, &ux_, &uy_, &uz_, &uzNext_}) field->assign(cells, 0.f);
    const int L = grid.pmlCells;
    const double dt = grid.dt, h = grid.h;
    const double rho = kAirDensity_kgm3, c = kSpeedOfSound_ms;
    pressureFactor_ = float(rho * c * c * dt / h);
    velocityFactor_ = float(dt / (rho * h));

    for (int axis = 0; axis < 3; ++axis) {
        const int n = grid.n[axis];
        for (auto* v : {&uA_[axis], &uB_[axis], &pA_[axis], &pB_[axis]}) v->assign(size_t(n), 0.f);
        // Depth into the layer of a position x (in cells from the grid's corner): the interior
        // spans [L + 1, n - L - 1].
        auto depth = [&](double x) {
            return std::max((L + 1 - x) / L, (x - (n - L - 1)) / double(L));
        };
        for (int i = 0; i < n; ++i) {
            const double sigmaFace = pmlSigma(depth(i + 1.0), grid, settings);
            const double sigmaCell = pmlSigma(depth(i + 0.5), grid, settings);
            const double faceDamp = 1 + 0.5 * sigmaFace * dt, cellDamp = 1 + 0.5 * sigmaCell * dt;
            uA_[axis][size_t(i)] = float((1 - 0.5 * sigmaFace * dt) / faceDamp);
            uB_[axis][size_t(i)] = float(dt / (rho * h) / faceDamp);
            pA_[axis][size_t(i)] = float((1 - 0.5 * sigmaCell * dt) / cellDamp);
            pB_[axis][size_t(i)] = float(rho * c * c * dt / h / cellDamp);
        }
    }

    // Split storage of the layer, row by row.
    const int nx = grid.n[0], ny = grid.n[1], nz = grid.n[2];
    rowSplit_.assign(size_t(ny) * nz + 1, 0);
    int64_t entries = 0;
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j) {
            rowSplit_[size_t(j + int64_t(ny) * k)] = entries;
            if (k < 1 || k > nz - 2 || j < 1 || j > ny - 2) continue;
            const bool fullRow = k <= L || k >= nz - L - 1 || j <= L || j >= ny - L - 1;
            entries += fullRow ? nx - 2 : 2 * L;
        }
    rowSplit_.back() = entries;
    for (int axis = 0; axis < 3; ++axis) split_[axis].assign(size_t(entries), 0.f);

    // Boundary faces sorted by slab and axis, solid cells by slab.
    const int64_t slabCells = int64_t(nx) * ny;
    auto slabOf = [&](int64_t cell) { return int(cell / slabCells); };
    auto keyOf = [&](const BoundaryFace& face) { return 3 * slabOf(face.cell) + face.axis; };
    std::vector<int> order(faces.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return keyOf(faces[size_t(a)]) < keyOf(faces[size_t(b)]);
    });
    slabFaces_.assign(3 * size_t(nz) + 1, 0);
    faceAmplitude_.resize(faces.size() * size_t(modes_));
    for (size_t f = 0; f < order.size(); ++f) {
        const BoundaryFace& face = faces[size_t(order[f])];
        faceCell_.push_back(face.cell);
        ++slabFaces_[size_t(keyOf(face)) + 1];
        for (int mode = 0; mode < modes_; ++mode)
            faceAmplitude_[f * size_t(modes_) + size_t(mode)] =
                cut ? 0.f : float(faceModeVelocity(order[f], mode));
    }
    std::partial_sum(slabFaces_.begin(), slabFaces_.end(), slabFaces_.begin());
    slabSolid_.assign(size_t(nz) + 1, 0);
    for (int64_t cell = 0; cell < grid.cellCount(); ++cell)
        if (solid[size_t(cell)]) {
            solidCells_.push_back(cell);
            ++slabSolid_[size_t(slabOf(cell)) + 1];
        }
    std::partial_sum(slabSolid_.begin(), slabSolid_.end(), slabSolid_.begin());
    weights_.assign(size_t(modes_), 0.f);
    if (cut) {
        cutCells_ = cut->cells;
        cutAperture_ = cut->aperture;
        cutDivergence_.resize(cutCells_.size());
        cutFlux_.resize(cutCells_.size() * size_t(modes_));
        for (size_t q = 0; q < cutCells_.size(); ++q) {
            const double volume = cut->volume[q];
            cutDivergence_[q] = float(rho * c * c * dt / (h * volume));
            for (int mode = 0; mode < modes_; ++mode)
                cutFlux_[q * size_t(modes_) + size_t(mode)] =
                    float(rho * c * c * dt * cutFlux(Eigen::Index(q), mode) / (h * h * h * volume));
        }
    }

    if (grid.order == 4) {
        open_.assign(cells, 0);
        const int64_t strides[3] = {1, int64_t(nx), slabCells};
        const int lo = L + 3;  // open cells lie two cells inside the interior [L + 1, n - L - 2]
        for (int k = lo; k <= nz - L - 4; ++k)
            for (int j = lo; j <= ny - L - 4; ++j)
                for (int i = lo; i <= nx - L - 4; ++i) {
                    const int64_t cell = grid.index(i, j, k);
                    bool open = true;
                    for (int axis = 0; axis < 3 && open; ++axis)
                        for (int s = -2; s <= 2 && open; ++s)
                            open = solid[size_t(cell + s * strides[axis])] == 0;
                    open_[size_t(cell)] = open;
                }
        // The cut cells' update is the two-point one: no four-point stencil reaches them.
        for (int64_t cell : cutCells_)
            for (int axis = 0; axis < 3; ++axis)
                for (int s = -2; s <= 2; ++s) open_[size_t(cell + s * strides[axis])] = 0;
        findFourthOrderRuns();
    }
    // One thread sweeps the grid in one block and needs no halo.
    blockSlabs_ = threads_ == 1 ? nz : kBlockSlabs;
    const size_t blocks = size_t((nz + blockSlabs_ - 1) / blockSlabs_);
    halo_.assign((grid.order == 4 ? 3 : 1) * blocks * size_t(slabCells), 0.f);
    zeroSlab_.assign(size_t(slabCells), 0.f);
}

// The four-point part of the velocities of slab k along the axis of flat step `stride` (1, nx
// or nx ny), added over the open runs to their two-point update:
//   u(c) -= dt / (rho h) (1/8 (p(c + e) - p(c)) - 1/24 (p(c + 2 e) - p(c - e))),
// u the storage of that component from the slab's first cell on, `slab` that cell's flat index.
// Open cells lie in the interior, where the velocity's layer coefficients are the plain ones.
TONWELL_SWEEP_CLONES void WaveSolver::fourthOrderVelocity(int k, int64_t stride, float* u,
                                                          int64_t slab) const {
    const int nx = grid_.n[0], ny = grid_.n[1];
    const float b = velocityFactor_;
    for (int j = 1; j <= ny - 2; ++j) {
        const int64_t rowIndex = j + int64_t(ny) * k;
        const int64_t row = int64_t(j) * nx;
        float* __restrict v = u + row;
        const float* __restrict p = p_.data() + slab + row;
        for (int64_t r = openRowRuns_[size_t(rowIndex)]; r < openRowRuns_[size_t(rowIndex) + 1];
             ++r) {
            const CellRun run = openRuns_[size_t(r)];
            for (int i = run.begin; i < run.end; ++i)
                v[i] -= b * (0.125f * (p[i + stride] - p[i]) -
                             (1.f / 24) * (p[i + 2 * stride] - p[i - stride]));
        }
    }
}

void WaveSolver::findFourthOrderRuns() {
    const int nx = grid_.n[0], ny = grid_.n[1], nz = grid_.n[2], L = grid_.pmlCells;
    const int64_t sy = nx, sz = int64_t(nx) * ny;
    openRowRuns_.assign(size_t(ny) * nz + 1, 0);
    pressureRowRuns_.assign(size_t(ny) * nz + 1, 0);
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j) {
            const int64_t rowIndex = j + int64_t(ny) * k;
            const uint8_t* o = open_.data() + grid_.index(0, j, k);
            for (int i = 0; i < nx;) {
                if (!o[i]) {
                    ++i;
                    continue;
                }
                CellRun run{i, i};
                while (run.end < nx && o[run.end]) ++run.end;
                openRuns_.push_back(run);
                i = run.end;
            }
            openRowRuns_[size_t(rowIndex) + 1] = int64_t(openRuns_.size());
            // The interior cells of rows off the layer, by how many of the ten faces their
            // divergence reads are open.
            const bool interiorRow = k > L && k < nz - L - 1 && j > L && j < ny - L - 1;
            if (interiorRow) {
                auto kindOf = [&](int i) {
                    const int64_t c = i;
                    const int open = o[c] + o[c - 1] + o[c + 1] + o[c - 2] + o[c - sy] + o[c + sy] +
                                     o[c - 2 * sy] + o[c - sz] + o[c + sz] + o[c - 2 * sz];
                    return open == 0    ? CellRun::kTwoPoint
                           : open == 10 ? CellRun::kFourPoint
                                        : CellRun::kMixed;
                };
                for (int i = L + 1; i < nx - L - 1;) {
                    CellRun run{i, i + 1, kindOf(i)};
                    while (run.end < nx - L - 1 && kindOf(run.end) == run.kind) ++run.end;
                    pressureRuns_.push_back(run);
                    i = run.end;
                }
            }
            pressureRowRuns_[size_t(rowIndex) + 1] = int64_t(pressureRuns_.size());
        }
}

float WaveSolver::faceVelocity(int f) const {
    const float* amplitude = faceAmplitude_.data() + size_t(f) * size_t(modes_);
    float velocity = 0;
    for (int mode = 0; mode < modes_; ++mode) velocity += amplitude[mode] * weights_[size_t(mode)];
    return velocity;
}

TONWELL_SWEEP_CLONES void WaveSolver::velocityZ(int k, float* out) const {
    const int nx = grid_.n[0], ny = grid_.n[1];
    const int64_t slab = int64_t(k) * nx * ny, sz = int64_t(nx) * ny;
    const float a = uA_[2][size_t(k)], b = uB_[2][size_t(k)];
    for (int j = 1; j <= ny - 2; ++j) {
        const int64_t row = int64_t(j) * nx;
        float* __restrict u = out + row;
        const float* __restrict uOld = uz_.data() + slab + row;
        const float* __restrict p = p_.data() + slab + row;
        for (int i = 1; i <= nx - 2; ++i) u[i] = a * uOld[i] - b * (p[i + sz] - p[i]);
    }
    if (!open_.empty()) fourthOrderVelocity(k, sz, out, slab);
    for (int f = slabFaces_[3 * size_t(k) + 2]; f < slabFaces_[3 * size_t(k) + 3]; ++f)
        out[faceCell_[size_t(f)] - slab] = faceVelocity(f);
}

TONWELL_SWEEP_CLONES void WaveSolver::velocityXY(int k) {
    const int nx = grid_.n[0], ny = grid_.n[1];
    const int64_t sy = nx;
    const float* __restrict ax = uA_[0].data();
    const float* __restrict bx = uB_[0].data();
    for (int j = 1; j <= ny - 2; ++j) {
        const int64_t row = grid_.index(0, j, k);
        float* __restrict ux = ux_.data() + row;
        const float* __restrict p = p_.data() + row;
        for (int i = 0; i <= nx - 2; ++i) ux[i] = ax[i] * ux[i] - bx[i] * (p[i + 1] - p[i]);
    }
    for (int j = 0; j <= ny - 2; ++j) {
        const int64_t row = grid_.index(0, j, k);
        float* __restrict uy = uy_.data() + row;
        const float* __restrict p = p_.data() + row;
        const float a = uA_[1][size_t(j)], b = uB_[1][size_t(j)];
        for (int i = 1; i <= nx - 2; ++i) uy[i] = a * uy[i] - b * (p[i + sy] - p[i]);
    }
    if (!open_.empty()) {
        const int64_t slab = grid_.index(0, 0, k);
        fourthOrderVelocity(k, 1, ux_.data() + slab, slab);
        fourthOrderVelocity(k, sy, uy_.data() + slab, slab);
    }
    for (int axis = 0; axis < 2; ++axis) {
        float* u = axis == 0 ? ux_.data() : uy_.data();
        for (int f = slabFaces_[3 * size_t(k) + size_t(axis)];
             f < slabFaces_[3 * size_t(k) + size_t(axis) + 1]; ++f)
            u[faceCell_[size_t(f)]] = faceVelocity(f);
    }
}

TONWELL_SWEEP_CLONES void WaveSolver::pressure(int k, const float* const uzSlabs[4]) {
    const int nx = grid_.n[0], ny = grid_.n[1], nz = grid_.n[2];
    const int L = grid_.pmlCells;
    const int64_t sy = nx, sz = int64_t(nx) * ny;
    const float K = pressureFactor_;
    const float* __restrict axp = pA_[0].data();
    const float* __restrict bxp = pB_[0].data();
    const float az = pA_[2][size_t(k)], bz = pB_[2][size_t(k)];
    for (int j = 1; j <= ny - 2; ++j) {
        const int64_t row = grid_.index(0, j, k);
        const int64_t inSlab = int64_t(j) * nx;
        float* __restrict p = pNext_.data() + row;
        const float* __restrict pOld = p_.data() + row;
        const float* __restrict ux = ux_.data() + row;
        const float* __restrict uy = uy_.data() + row;
        const float* __restrict uz = uzSlabs[2] + inSlab;
        const float* __restrict uzb = uzSlabs[1] + inSlab;
        const float ay = pA_[1][size_t(j)], by = pB_[1][size_t(j)];
        const int64_t splitRow = rowSplit_[size_t(j + int64_t(ny) * k)];
        float* __restrict px = split_[0].data() + splitRow;
        float* __restrict py = split_[1].data() + splitRow;
        float* __restrict pz = split_[2].data() + splitRow;
        // Split parts over cells [begin, end) of the row, their entries from `first` on.
        auto splitRun = [&](int begin, int end, int64_t first) {
            splitPressureRun(begin, end, px + first - begin, py + first - begin, pz + first - begin,
                             p, axp, bxp, ay, by, az, bz, ux, uy, uy - sy, uz, uzb);
        };
        const bool fullRow = k <= L || k >= nz - L - 1 || j <= L || j >= ny - L - 1;
        if (fullRow) {
            splitRun(1, nx - 1, 0);
            continue;
        }
        splitRun(1, L + 1, 0);
        if (open_.empty()) {
            twoPointPressureRun(L + 1, nx - L - 1, p, pOld, K, ux, uy, sy, uz, uzb);
        } else {
            const int64_t rowIndex = j + int64_t(ny) * k;
            const uint8_t* o = open_.data() + row;
            const float* uzb2 = uzSlabs[0] + inSlab;
            const float* uza = uzSlabs[3] + inSlab;
            for (int64_t r = pressureRowRuns_[size_t(rowIndex)];
                 r < pressureRowRuns_[size_t(rowIndex) + 1]; ++r) {
                const CellRun run = pressureRuns_[size_t(r)];
                if (run.kind == CellRun::kTwoPoint)
                    twoPointPressureRun(run.begin, run.end, p, pOld, K, ux, uy, sy, uz, uzb);
                else if (run.kind == CellRun::kFourPoint)
                    fourPointPressureRun(run.begin, run.end, p, pOld, K, ux, uy, sy, uz, uzb, uza,
                                         uzb2);
                else
                    mixedPressureRun(run.begin, run.end, p, pOld, K, ux, uy, sy, uz, uzb, uza, uzb2,
                                     o, sz);
            }
        }
        splitRun(nx - L - 1, nx - 1, L);
    }
    for (int64_t s = slabSolid_[size_t(k)]; s < slabSolid_[size_t(k) + 1]; ++s)
        pNext_[size_t(solidCells_[size_t(s)])] = 0.f;
}

void WaveSolver::sweepBlock(int block) {
    const int nz = grid_.n[2];
    const int64_t slabCells = int64_t(grid_.n[0]) * grid_.n[1];
    const int k0 = block * blockSlabs_, k1 = std::min(nz, k0 + blockSlabs_);
    const bool fourth = !open_.empty();
    // The new u_z of the slabs next to the block: other blocks write them into uzNext_ during
    // this step, so this block computes its own copies from the old values.
    float* halo = halo_.data() + size_t(block) * size_t(fourth ? 3 : 1) * size_t(slabCells);
    float* below1 = halo;
    float* below2 = halo + slabCells;
    float* above = halo + 2 * slabCells;
    if (k0 >= 1) velocityZ(k0 - 1, below1);
    if (fourth && k0 >= 2) velocityZ(k0 - 2, below2);
    if (fourth && k1 <= nz - 2) velocityZ(k1, above);
    auto uzSlab = [&](int k) -> const float* {
        if (k < 0) return zeroSlab_.data();
        if (k >= k0 && k < k1) return uzNext_.data() + int64_t(k) * slabCells;
        if (k == k0 - 1) return below1;
        if (k == k0 - 2) return below2;
        if (k == k1 && k <= nz - 2) return above;
        return zeroSlab_.data();  // the top ghost slab's faces never move
    };
    auto pressureOf = [&](int k) {
        if (k < 1 || k > nz - 2) return;
        const float* slabs[4] = {uzSlab(k - 2), uzSlab(k - 1), uzSlab(k), uzSlab(k + 1)};
        pressure(k, slabs);
    };
    // The pressure of slab k needs the new u_z up to slab k + 1 at fourth order: it follows the
    // velocities one slab behind.
    for (int k = k0; k < k1; ++k) {
        if (k <= nz - 2) velocityZ(k, uzNext_.data() + int64_t(k) * slabCells);
        if (k >= 1 && k <= nz - 2) velocityXY(k);
        if (!fourth) {
            pressureOf(k);
        } else if (k > k0) {
            pressureOf(k - 1);
        }
    }
    if (fourth) pressureOf(k1 - 1);
}

void WaveSolver::cutCellPressure(size_t first, size_t last) {
    // V dp/dt = -rho c^2 (sum_f A_f u_f - Q / h^2) / h over the cell's air, with the new
    // velocities (u_x, u_y in place, u_z in uzNext_) and the old pressure.
    const int64_t sy = grid_.n[0], sz = int64_t(grid_.n[0]) * grid_.n[1];
    for (size_t q = first; q < last; ++q) {
        const int64_t cell = cutCells_[q];
        const std::array<float, 6>& open = cutAperture_[q];
        const float divergence = open[1] * ux_[size_t(cell)] - open[0] * ux_[size_t(cell - 1)] +
                                 open[3] * uy_[size_t(cell)] - open[2] * uy_[size_t(cell - sy)] +
                                 open[5] * uzNext_[size_t(cell)] -
                                 open[4] * uzNext_[size_t(cell - sz)];
        float drive = 0;
        const float* flux = &cutFlux_[q * size_t(modes_)];
        for (int mode = 0; mode < modes_; ++mode) drive += flux[mode] * weights_[size_t(mode)];
        pNext_[size_t(cell)] = p_[size_t(cell)] - cutDivergence_[q] * divergence + drive;
    }
}

void WaveSolver::step(const double* modeWeights) {
    for (int mode = 0; mode < modes_; ++mode) weights_[size_t(mode)] = float(modeWeights[mode]);
    const int blocks = (grid_.n[2] + blockSlabs_ - 1) / blockSlabs_;
    parallelFor(blocks, threads_, [&](int block) { sweepBlock(block); });
    if (!cutCells_.empty()) {
        const size_t chunk = 4096, chunks = (cutCells_.size() + chunk - 1) / chunk;
        parallelFor(int(chunks), threads_, [&](int part) {
            cutCellPressure(size_t(part) * chunk,
                            std::min(cutCells_.size(), size_t(part + 1) * chunk));
        });
    }
    std::swap(p_, pNext_);
    std::swap(uz_, uzNext_);
    ++steps_;
}
