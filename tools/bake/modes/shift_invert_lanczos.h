// The eigenpairs of K u = lambda M u nearest a shift sigma: Lanczos on the shift-inverted operator
// A = (K - sigma M)^{-1} M, which is self-adjoint in the M inner product <x, y> = x^T M y and maps
// each eigenvalue lambda to theta = 1 / (lambda - sigma), so the eigenvalues nearest sigma become
// the largest |theta| and converge first. One eigen slice of the baker's modal analysis
// (solve_modes.h); runs in a worker process (the factorisation is MUMPS, sparse_ldlt.h).
//
// A block method (blocks of blockSize vectors, solved for together) with full
// reorthogonalisation (classical Gram-Schmidt, twice) against the stored Lanczos vectors V and
// their images W = M V, so each block costs one solve with blockSize right-hand sides, one
// product with M and no other M product: <v_i, z> = (M v_i)^T z.
#pragma once

#include <Eigen/Core>
#include <Eigen/Sparse>
#include <cstdint>

struct LanczosOptions {
    int wanted = 0;            // eigenpairs nearest sigma to return (>= 1)
    double tolerance = 1e-10;  // residual of each Ritz pair of A, relative to its |theta|
    int maxSteps = 0;          // Lanczos vectors at most; 0: 4 * wanted + 60
    int blockSize = 4;         // vectors per block
    uint32_t seed = 1;         // of the start block
};

struct LanczosResult {
    Eigen::VectorXd eigenvalues;  // the `wanted` lambda nearest sigma, ascending
    Eigen::MatrixXd vectors;      // n x wanted, M-orthonormal to the tolerance
    int steps = 0;                // Lanczos vectors made (a solve's right-hand side each)
    bool converged = false;       // all wanted pairs reached the tolerance within maxSteps
    int negativeEigenvalues = 0;  // of K - sigma M: how many lambda lie below sigma
};

// Eigenpairs of the symmetric stiffness K and the positive definite mass M (both n x n, same
// units as each other's eigenvalues) nearest `sigma`. K - sigma M is factorised once (it may be
// indefinite; sigma must not be an eigenvalue). When not converged, the best Ritz pairs are
// returned with converged = false. Throws BakeError if the factorisation fails.
LanczosResult shiftInvertLanczos(const Eigen::SparseMatrix<double>& stiffness,
                                 const Eigen::SparseMatrix<double, Eigen::RowMajor>& mass,
                                 double sigma, const LanczosOptions& options);
