// Shift-invert Lanczos (Spectra) with a CHOLMOD factorisation of K - sigma M, followed by a
// Rayleigh-Ritz step that makes the vectors exactly M-orthonormal (see solve_modes.h).
#include "tools/bake/solve_modes.h"

#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymGEigsShiftSolver.h>

#include <Eigen/CholmodSupport>
#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <sstream>

#include "tools/bake/bake_error.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

// y = (K - sigma M)^{-1} x through one sparse Cholesky factorisation; the operation Spectra's
// generalised shift-invert mode expects.
class ShiftInvertOperator {
  public:
    using Scalar = double;

    ShiftInvertOperator(const Eigen::SparseMatrix<double>& stiffness,
                        const Eigen::SparseMatrix<double>& mass)
        : stiffness_(stiffness), mass_(mass) {}

    Eigen::Index rows() const { return stiffness_.rows(); }
    Eigen::Index cols() const { return stiffness_.cols(); }

    void set_shift(const Scalar& sigma) {
        Eigen::SparseMatrix<double> shifted = stiffness_ - sigma * mass_;
        factor_.compute(shifted);
        factored_ = factor_.info() == Eigen::Success;
    }

    void perform_op(const Scalar* x, Scalar* y) const {
        Eigen::Map<const Eigen::VectorXd> in(x, rows());
        Eigen::Map<Eigen::VectorXd> out(y, rows());
        out = factor_.solve(in);
    }

    bool factored() const { return factored_; }

  private:
    const Eigen::SparseMatrix<double>& stiffness_;
    const Eigen::SparseMatrix<double>& mass_;
    Eigen::CholmodSupernodalLLT<Eigen::SparseMatrix<double>, Eigen::Lower> factor_;
    bool factored_ = false;
};

}  // namespace

Eigen::MatrixXd rigidBodyMotions(const std::vector<Eigen::Vector3d>& nodes) {
    const int n = static_cast<int>(nodes.size());
    Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
    for (const auto& x : nodes) centroid += x;
    centroid /= n;
    Eigen::MatrixXd motions = Eigen::MatrixXd::Zero(3 * n, 6);
    for (int i = 0; i < n; ++i) {
        const Eigen::Vector3d r = nodes[i] - centroid;
        for (int k = 0; k < 3; ++k) {
            motions(3 * i + k, k) = 1.0;
            const Eigen::Vector3d rotation = Eigen::Vector3d::Unit(k).cross(r);
            motions.block<3, 1>(3 * i, 3 + k) = rotation;
        }
    }
    return motions;
}

ModalBasis solveModes(const Eigen::SparseMatrix<double>& stiffnessSI,
                      const Eigen::SparseMatrix<double>& massSI,
                      const std::vector<Eigen::Vector3d>& nodes, const ModeSolveOptions& options,
                      const std::string& sourceName) {
    const int dofCount = static_cast<int>(stiffnessSI.rows());
    const int wanted = options.modeCount + 6;
    if (options.modeCount < 1 || wanted >= dofCount) {
        std::ostringstream message;
        message << sourceName << ": cannot compute " << options.modeCount
                << " modes of a mesh with " << dofCount << " degrees of freedom";
        throw BakeError(message.str());
    }

    // Solve in scaled units, K / kScale and M / mScale with unit mean diagonals: the Lanczos
    // iteration compares norms against absolute thresholds, which a millimetre-sized part (M
    // entries near 1e-13 kg) would otherwise fall below. lambda = lambda' kScale / mScale and
    // u = u' / sqrt(mScale) bring the results back.
    const double kScale = stiffnessSI.diagonal().mean(), mScale = massSI.diagonal().mean();
    const Eigen::SparseMatrix<double> stiffness = stiffnessSI * (1.0 / kScale);
    const Eigen::SparseMatrix<double> mass = massSI * (1.0 / mScale);

    // sigma slightly below zero: far below the first elastic eigenvalue, so the rigid and the
    // lowest elastic modes dominate (K - sigma M)^{-1}, yet large enough for a well-conditioned
    // factorisation. The ratio of the traces scales with the highest eigenvalue of the mesh.
    const double sigma = -1e-8 * stiffness.diagonal().sum() / mass.diagonal().sum();
    ShiftInvertOperator op(stiffness, mass);
    Spectra::SparseSymMatProd<double> massOp(mass);
    const int subspace = std::min(dofCount, std::max(2 * wanted + 1, wanted + 30));
    Spectra::SymGEigsShiftSolver<ShiftInvertOperator, Spectra::SparseSymMatProd<double>,
                                 Spectra::GEigsMode::ShiftInvert>
        solver(op, massOp, wanted, subspace, sigma);
    if (!op.factored())
        throw BakeError(sourceName +
                        ": the Cholesky factorisation of K - sigma M failed (is the mesh valid?)");
    solver.init();
    solver.compute(Spectra::SortRule::LargestMagn, options.maxIterations, options.tolerance,
                   Spectra::SortRule::SmallestAlge);
    if (solver.info() != Spectra::CompInfo::Successful) {
        std::ostringstream message;
        message << sourceName << ": the eigen solve did not converge (" << solver.num_iterations()
                << " restarts, " << wanted << " eigenpairs wanted)";
        throw BakeError(message.str());
    }

    // Rayleigh-Ritz on the converged subspace: the small problem (V^T K V) y = lambda (V^T M V) y
    // gives vectors that are M-orthonormal to rounding, also inside degenerate pairs.
    const Eigen::MatrixXd ritz = solver.eigenvectors();
    const Eigen::MatrixXd reducedK = ritz.transpose() * (stiffness * ritz);
    const Eigen::MatrixXd reducedM = ritz.transpose() * (mass * ritz);
    Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::MatrixXd> reduced(
        0.5 * (reducedK + reducedK.transpose()), 0.5 * (reducedM + reducedM.transpose()));
    if (reduced.info() != Eigen::Success)
        throw BakeError(sourceName +
                        ": the Rayleigh-Ritz step failed (M is not positive definite)");
    const Eigen::VectorXd lambdas = reduced.eigenvalues() * (kScale / mScale);  // ascending, SI
    Eigen::MatrixXd vectors = ritz * reduced.eigenvectors() * (1.0 / std::sqrt(mScale));

    // The six lowest must be rigid: check that they lie in the span of the rigid motions, and
    // that the first elastic eigenvalue stands clear of them.
    Eigen::MatrixXd rigid = rigidBodyMotions(nodes);
    {
        // M-orthonormalise the rigid motions: R (R^T M R)^{-1/2}... via Cholesky R^T M R = L L^T.
        const Eigen::MatrixXd gram = rigid.transpose() * (massSI * rigid);
        Eigen::LLT<Eigen::MatrixXd> llt(gram);
        rigid = llt.matrixU().solve<Eigen::OnTheRight>(rigid);
    }
    ModalBasis basis;
    basis.rigidEigenvalues = lambdas.head(6);
    for (int j = 0; j < 6; ++j) {
        const Eigen::VectorXd u = vectors.col(j);
        const Eigen::VectorXd residual = u - rigid * (rigid.transpose() * (massSI * u));
        basis.rigidResidual = std::max(basis.rigidResidual,
                                       std::sqrt(std::max(0.0, residual.dot(massSI * residual))));
    }
    const double firstElastic = lambdas(6);
    const double rigidLargest = lambdas.head(6).cwiseAbs().maxCoeff();
    if (!(basis.rigidResidual < 1e-4) || !(rigidLargest < 1e-6 * firstElastic)) {
        std::ostringstream message;
        message << sourceName << ": the six lowest modes are not the rigid-body motions (residual "
                << basis.rigidResidual << ", largest rigid eigenvalue " << rigidLargest
                << ", first elastic " << firstElastic << "); is the solid in more than one piece?";
        throw BakeError(message.str());
    }

    int kept = options.modeCount;
    if (options.maxFrequency > 0.0) {
        const double lambdaMax = std::pow(kTwoPi * options.maxFrequency, 2);
        kept = 0;
        while (kept < options.modeCount && lambdas(6 + kept) <= lambdaMax) ++kept;
        if (kept == 0) {
            std::ostringstream message;
            message << sourceName << ": no elastic mode lies below the frequency limit of "
                    << options.maxFrequency << " Hz (the lowest is "
                    << std::sqrt(lambdas(6)) / kTwoPi << " Hz)";
            throw BakeError(message.str());
        }
    }
    basis.eigenvalues = lambdas.segment(6, kept);
    basis.shapes = vectors.middleCols(6, kept);
    basis.frequencies = basis.eigenvalues.cwiseMax(0.0).cwiseSqrt() / kTwoPi;
    basis.iterations = static_cast<int>(solver.num_iterations());
    basis.operations = static_cast<int>(solver.num_operations());
    return basis;
}
