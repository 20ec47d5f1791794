// Restarted GMRES for the dense complex boundary element systems: the matrix is only touched
// through a caller's product, so the caller can spread it over threads. Runs on the baker's
// thread; the product it calls may use more.
#pragma once

#include <Eigen/Core>
#include <functional>

struct GmresResult {
    int iterations = 0;           // matrix-vector products spent
    double relativeResidual = 0;  // |b - A x| / |b| at return
    bool converged = false;
};

// Solves A x = b with GMRES(restart), right-preconditioned by the diagonal: it iterates on
// A D^{-1} y = b and returns x = D^{-1} y.
// multiply(v, out): out = A v, both of length n.  diagonal: the n diagonal entries of A (none 0).
// x: initial guess on entry (length n), solution on return. Stops when |b - A x| <= tolerance |b|
// or after maxIterations products.
GmresResult solveGmres(
    const std::function<void(const Eigen::VectorXcd&, Eigen::VectorXcd&)>& multiply,
    const Eigen::VectorXcd& diagonal, const Eigen::VectorXcd& b, Eigen::VectorXcd& x,
    double tolerance, int maxIterations, int restart = 80);
