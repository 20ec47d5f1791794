// Burton-Miller assembly, GMRES solve and the representation formula (see bem_solve.h).
#include "tools/bake/transfer/bem/bem_solve.h"

#include <algorithm>
#include <chrono>
#include <complex>
#include <stdexcept>

#include "tools/bake/common/parallel_for.h"
#include "tools/bake/common/stopwatch.h"
#include "tools/bake/transfer/bem/bem_element_rows.h"
#include "tools/bake/transfer/bem/bem_gmres.h"
#include "tools/bake/transfer/bem/bem_matrix_entries.h"
#include "tools/bake/transfer/bem/bem_quadrature.h"

namespace {

using Complex = std::complex<double>;

int threadsFor(const BemOptions& options) { return threadCountFor(options.threadCount); }

}  // namespace

BemSolution startBemSolution(double omega, const Eigen::MatrixXd& normalVelocity) {
    BemSolution solution;
    solution.omega = omega;
    solution.waveNumber = omega / kSpeedOfSound_ms;
    solution.normalGradient =
        Complex(0, -omega * kAirDensity_kgm3) * normalVelocity.cast<Complex>();
    return solution;
}

BemSolution solveExteriorNeumann(const BemSurface& surface, double omega,
                                 const Eigen::MatrixXd& normalVelocity, const BemOptions& options) {
    const BemNearField nearField =
        makeNearField(surface, options.nearFieldDepth, threadsFor(options));
    return solveExteriorNeumann(surface, nearField, omega, normalVelocity, options);
}

namespace {

// Assembly and GMRES with the matrix stored in `Scalar` (complex double or float).
template <typename Scalar>
void assembleAndSolve(const BemSurface& surface, const BemNearField& nearField, double k,
                      const BemOptions& options, double tolerance, BemSolution* solution) {
    using Matrix = Eigen::Matrix<Scalar, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    using Vector = Eigen::Matrix<Scalar, Eigen::Dynamic, 1>;
    const int n = static_cast<int>(surface.elements.size());
    const int threads = threadsFor(options);
    const Eigen::MatrixXcd& q = solution->normalGradient;
    const int fields = static_cast<int>(q.cols());
    const Complex alpha = burtonMillerCoupling(surface, k, options);

    // Row i: collocation at centroid i. A = 1/2 I - D + alpha H; right side b = (-S + alpha
    // (1/2 I + D')) q, accumulated during assembly so that S and D' are never stored.
    const auto assemblyStart = std::chrono::steady_clock::now();
    const BemMatrixEntries entries(surface, nearField, k);
    Matrix a(n, n);
    Eigen::VectorXcd diagonal(n);
    Eigen::MatrixXcd b = Eigen::MatrixXcd::Zero(n, fields);
    parallelFor(n, threads, [&](int i) {
        thread_local BemRow row;
        entries.row(i, &row);
        row.doubleLayer[i] -= 0.5;
        row.adjointDoubleLayer[i] += 0.5;
        Eigen::Map<const Eigen::VectorXcd> single(row.single.data(), n);
        Eigen::Map<const Eigen::VectorXcd> doubleLayer(row.doubleLayer.data(), n);
        Eigen::Map<const Eigen::VectorXcd> adjoint(row.adjointDoubleLayer.data(), n);
        Eigen::Map<const Eigen::VectorXcd> hypersingular(row.hypersingular.data(), n);
        const Eigen::VectorXcd matrixRow = -doubleLayer + alpha * hypersingular;
        a.row(i) = matrixRow.transpose().template cast<Scalar>();
        diagonal[i] = matrixRow[i];
        const Eigen::VectorXcd weights = -single + alpha * adjoint;
        b.row(i) = weights.transpose() * q;
    });
    solution->assemblySeconds = secondsSince(assemblyStart);

    const auto solveStart = std::chrono::steady_clock::now();
    auto multiply = [&](const Eigen::VectorXcd& v, Eigen::VectorXcd& out) {
        const Vector x = v.cast<Scalar>();
        const int blocks = std::min(threads, n);
        parallelFor(blocks, threads, [&](int t) {
            const int begin = static_cast<int>(static_cast<long>(n) * t / blocks);
            const int end = static_cast<int>(static_cast<long>(n) * (t + 1) / blocks);
            out.segment(begin, end - begin) =
                (a.middleRows(begin, end - begin) * x).template cast<Complex>();
        });
    };
    solution->pressure.resize(n, fields);
    for (int f = 0; f < fields; ++f) {
        Eigen::VectorXcd x = Eigen::VectorXcd::Zero(n);
        const GmresResult r =
            solveGmres(multiply, diagonal, b.col(f), x, tolerance, options.maxIterations);
        solution->pressure.col(f) = x;
        solution->iterations.push_back(r.iterations);
        solution->converged = solution->converged && r.converged;
    }
    solution->solveSeconds = secondsSince(solveStart);
}

}  // namespace

BemSolution solveExteriorNeumann(const BemSurface& surface, const BemNearField& nearField,
                                 double omega, const Eigen::MatrixXd& normalVelocity,
                                 const BemOptions& options) {
    const int n = static_cast<int>(surface.elements.size());
    if (!(omega > 0)) throw std::invalid_argument("angular frequency must be positive");
    if (normalVelocity.rows() != n)
        throw std::invalid_argument("normal velocity rows " +
                                    std::to_string(normalVelocity.rows()) + " != elements " +
                                    std::to_string(n));
    BemSolution solution = startBemSolution(omega, normalVelocity);
    const double k = solution.waveNumber;
    // Large matrices are kept in single precision: it halves the memory traffic of every GMRES
    // product, which is what a product costs; the solve then asks no more than the rounding of
    // single precision allows.
    if (n >= options.singlePrecisionFrom)
        assembleAndSolve<std::complex<float>>(surface, nearField, k, options,
                                              std::max(options.gmresTolerance, 1e-5), &solution);
    else
        assembleAndSolve<Complex>(surface, nearField, k, options, options.gmresTolerance,
                                  &solution);
    return solution;
}

std::complex<double> burtonMillerCoupling(const BemSurface& surface, double waveNumber,
                                          const BemOptions& options) {
    const double halfDiagonal = 0.5 * (surface.boxMax - surface.boxMin).norm();
    const double coupling = 1 / std::max(waveNumber, 1 / halfDiagonal);
    return {0, options.burtonMiller ? coupling : 0.0};
}

Eigen::MatrixXcd radiatedPressure(const BemSurface& surface, const BemSolution& solution,
                                  const std::vector<Eigen::Vector3d>& points,
                                  const BemOptions& options) {
    const int count = static_cast<int>(points.size());
    const int n = static_cast<int>(surface.elements.size());
    const int fields = static_cast<int>(solution.pressure.cols());
    Eigen::MatrixXcd result(count, fields);
    const Eigen::Vector3d noNormal = Eigen::Vector3d::Zero();
    // p(x) = sum_j p_j D_j(x) - q_j S_j(x): far elements by the fixed rule, near ones adaptively.
    const BemRulePoints rule = makeRulePoints(surface, solution.waveNumber);
    parallelFor(count, threadsFor(options), [&](int i) {
        thread_local BemRow row;
        integrateRow(rule, points[i], noNormal, solution.waveNumber, &row);
        for (int j : nearElementsOf(surface, points[i])) {
            const BemIntegrals m = integrateOffElement(points[i], noNormal, surface.elements[j],
                                                       solution.waveNumber, options.nearFieldDepth);
            row.single[j] = m.single;
            row.doubleLayer[j] = m.doubleLayer;
        }
        Eigen::Map<const Eigen::RowVectorXcd> single(row.single.data(), n);
        Eigen::Map<const Eigen::RowVectorXcd> doubleLayer(row.doubleLayer.data(), n);
        result.row(i) = doubleLayer * solution.pressure - single * solution.normalGradient;
    });
    return result;
}
