// The exterior acoustic problem of bem_solve.h for surfaces too large for a dense matrix (8,000 to
// 64,000 elements): the same Burton-Miller equation, the same entries and the same GMRES, with
// the matrix held as a hierarchical matrix (hmat-oss, complex double): blocks of elements far
// apart relative to their size are stored as low-rank products, found by ACA+ from a few of their
// rows and columns; blocks of nearby elements (thin walls, neighbours) are computed in full, with
// the dense solver's near-field splitting. At six elements per wavelength on a sphere, storage
// and assembly time grew as about N^1.4 from 8,000 to 64,000 elements (dense: N^2); below about
// 4,000 elements the dense solver is as fast or faster on one core.
//
// Runs on the calling thread only and starts none: the baker runs it in forked worker processes,
// one solve per process at a time (the library keeps process-wide state; two threads of one
// process must not call it at once). The library is initialised lazily by the first call.
#pragma once

#include <Eigen/Core>

#include "tools/bake/transfer/bem/bem_near_field.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"

struct HMatrixOptions {
    // Relative accuracy of each low-rank block (ACA+ stops when the next cross is below this
    // fraction of the block's norm). The solution's error grows about linearly with it.
    double compressionTolerance = 1e-4;
    // Hackbusch's admissibility: a block of element clusters s x t is compressed when
    // min(diam s, diam t) <= admissibility * dist(s, t); smaller values compress fewer, better
    // separated blocks.
    double admissibility = 3.0;
    // Most elements in a leaf of the cluster tree, so the side of the smallest full blocks.
    int leafSize = 64;
};

struct HMatrixStatistics {
    double storedBytes = 0;        // the Burton-Miller system matrix as stored, bytes
    double denseBytes = 0;         // the same matrix dense: 16 N^2 bytes
    double assemblySeconds = 0;    // both compressed matrices and the right-hand side
    double secondsPerProduct = 0;  // one matrix-vector product of GMRES
};

// The same exterior Neumann problem and the same answer as solveExteriorNeumann (bem_solve.h),
// within the GMRES tolerance and the compression tolerance, with the Burton-Miller matrix held
// as a hierarchical matrix. Inputs and the returned BemSolution as there (normalVelocity:
// elements x fields, m/s; omega > 0 rad/s), so radiatedPressure works on the result unchanged;
// options.threadCount is ignored (one thread).
// The right-hand side b = B q (bem_solve.h's B = -S + alpha (1/2 I + D')) is a second compressed
// matrix, applied once to all fields and freed before the system matrix is assembled: the
// low-rank blocks never compute most of their entries, so b cannot be summed during assembly
// without evaluating all N^2 couplings.
// Single-threaded; safe to call many times in one process, one call at a time, and in forked
// children. Throws std::invalid_argument on bad arguments and std::runtime_error when the
// library fails. statistics: filled when not null.
BemSolution solveExteriorNeumannHMatrix(const BemSurface& surface, double omega,
                                        const Eigen::MatrixXd& normalVelocity,
                                        const BemOptions& options = BemOptions(),
                                        const HMatrixOptions& hOptions = HMatrixOptions(),
                                        HMatrixStatistics* statistics = nullptr);
// The same with the surface's near field computed beforehand (makeNearField with
// options.nearFieldDepth), for many frequencies on one surface.
BemSolution solveExteriorNeumannHMatrix(const BemSurface& surface, const BemNearField& nearField,
                                        double omega, const Eigen::MatrixXd& normalVelocity,
                                        const BemOptions& options = BemOptions(),
                                        const HMatrixOptions& hOptions = HMatrixOptions(),
                                        HMatrixStatistics* statistics = nullptr);
