// The vibration modes of a free solid: the lowest eigenpairs of K u = lambda M u (lambda = omega^2)
// by shift-invert Lanczos, with the six rigid-body modes found, checked and dropped.
//
// Hundreds of modes: the band is cut into slices, each solved around its own shift in its own
// worker process (shift_invert_lanczos.h, worker_processes.h), and the count of eigenvalues below
// the band's top, from the inertia of K - lambda_max M (Sylvester), proves that none is missing.
#pragma once

#include <Eigen/Core>
#include <Eigen/Sparse>
#include <string>
#include <vector>

struct ModeSolveOptions {
    // Which modes: every elastic mode below maxFrequency (Hz), at most modeCount of them (the
    // lowest); with maxFrequency 0, the lowest modeCount. At least one of the two is set.
    int modeCount = 0;
    double maxFrequency = 0.0;
    double tolerance = 1e-10;  // relative residual of the Ritz pairs of the shift-inverted operator
    int maxIterations = 0;     // Lanczos steps per slice at most (0: 4 x the slice's modes + 60)
    int modesPerSlice = 40;    // eigenpairs each slice aims for
    int workerCount = 0;       // worker processes (0: one per hardware thread)
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
    int iterations = 0;      // eigen slices solved (shifts), including any that filled a gap
    int operations = 0;      // Lanczos steps over all slices: solves with a factorised K - sigma M
    int factorisations = 0;  // of K - sigma M, counts of the band included
    double largestResidual = 0.0;  // max_j |K u_j - lambda_j M u_j| / |lambda_j M u_j|
};

// Solves the free-vibration problem of the solid with nodes `nodes` (needed for the rigid motions),
// stiffness K and positive definite mass M (both 3n x 3n, symmetric). With a frequency limit, the
// inertia of K - lambda_max M counts the modes below it; slices of about modesPerSlice eigenvalues
// each, at shifts placed by a fit of that count, find them all (slices that left a gap are
// followed by one more around the gap). The vectors of all slices go through one Rayleigh-Ritz
// step, which makes them M-orthonormal to rounding. Without a limit, one slice just below zero
// finds the lowest modeCount.
// Throws BakeError naming `sourceName` if a factorisation or a slice fails to converge, if the
// slices cannot find every mode the count promises, or if the six lowest modes are not rigid
// motions (a solid in several pieces has more than six).
ModalBasis solveModes(const Eigen::SparseMatrix<double>& stiffness,
                      const Eigen::SparseMatrix<double>& mass,
                      const std::vector<Eigen::Vector3d>& nodes, const ModeSolveOptions& options,
                      const std::string& sourceName);

// The six rigid-body motions of the nodes (3n x 6): translations along x, y, z and small rotations
// about the axes through the centroid, u = e_k x (x - c).
Eigen::MatrixXd rigidBodyMotions(const std::vector<Eigen::Vector3d>& nodes);
