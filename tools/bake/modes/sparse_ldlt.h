// A sparse symmetric factorisation A = L D L^T that also works when A is indefinite, as K - sigma M
// is for a shift sigma inside the spectrum: the eigen solver's shift-invert operator, and, through
// Sylvester's law of inertia, the count of eigenvalues below sigma (the negative entries of D).
// MUMPS (sequential build, multifrontal with threshold pivoting) does the work.
//
// MUMPS keeps global state that is not thread-safe: one factorisation per process at a time (the
// baker runs its eigen slices in worker processes, worker_processes.h).
#pragma once

#include <Eigen/Sparse>
#include <memory>

class SparseLdlt {
  public:
    // Factorises the symmetric matrix `a` (n x n; both triangles or only the lower one stored; the
    // lower triangle is read). Throws BakeError when MUMPS fails (out of memory, a singular
    // matrix: a shift exactly at an eigenvalue), with its error code.
    explicit SparseLdlt(const Eigen::SparseMatrix<double>& a);
    ~SparseLdlt();
    SparseLdlt(const SparseLdlt&) = delete;
    SparseLdlt& operator=(const SparseLdlt&) = delete;

    int size() const;
    // The number of negative eigenvalues of A (negative pivots of D).
    int negativeEigenvalueCount() const;
    // x <- A^{-1} x for `columns` right-hand sides stored one after another (n each).
    void solveInPlace(double* x, int columns = 1);

  private:
    struct State;
    std::unique_ptr<State> state_;
};
