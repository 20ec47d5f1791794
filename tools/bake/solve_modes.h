// The vibration modes of a free solid: the lowest eigenpairs of K u = lambda M u (lambda = omega^2)
// by shift-invert Lanczos, with the six rigid-body modes found, checked and dropped.
#pragma once

#include <Eigen/Core>
#include <Eigen/Sparse>
#include <string>
#include <vector>

struct ModeSolveOptions {
    int modeCount = 0;          // r, the number of elastic modes wanted (>= 1)
    double maxFrequency = 0.0;  // Hz; modes above it are dropped afterwards (0: keep all r)
    double tolerance = 1e-10;   // relative accuracy of the Ritz values
    int maxIterations = 1000;   // restarts of the Lanczos iteration
};

struct ModalBasis {
    // Elastic modes, lowest first: columns of `shapes` (3n x r), mass-normalised (U^T M U = I),
    // `eigenvalues` lambda_j = omega_j^2 (rad^2/s^2) and `frequencies` f_j = omega_j / 2pi (Hz).
    Eigen::MatrixXd shapes;
    Eigen::VectorXd eigenvalues;
    Eigen::VectorXd frequencies;
    // The six dropped rigid-body eigenvalues (near zero, either sign) and how far each of their
    // vectors lies outside the span of the rigid motions (M-norm of the residual of projection).
    Eigen::VectorXd rigidEigenvalues;
    double rigidResidual = 0.0;
    int iterations = 0;  // Lanczos restarts
    int operations = 0;  // solves with the factorised K - sigma M
};

// Solves the free-vibration problem of the solid with nodes `nodes` (needed for the rigid motions),
// stiffness K and positive definite mass M (both 3n x 3n, symmetric). The shift sigma is slightly
// below zero so K - sigma M is positive definite and factorised once by sparse Cholesky (CHOLMOD).
// Throws BakeError naming `sourceName` if the factorisation or the iteration fails, or if the six
// lowest modes are not rigid motions (a solid in several pieces has more than six).
ModalBasis solveModes(const Eigen::SparseMatrix<double>& stiffness,
                      const Eigen::SparseMatrix<double>& mass,
                      const std::vector<Eigen::Vector3d>& nodes, const ModeSolveOptions& options,
                      const std::string& sourceName);

// The six rigid-body motions of the nodes (3n x 6): translations along x, y, z and small rotations
// about the axes through the centroid, u = e_k x (x - c).
Eigen::MatrixXd rigidBodyMotions(const std::vector<Eigen::Vector3d>& nodes);
