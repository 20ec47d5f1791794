// Burton-Miller assembly, GMRES solve and the representation formula (see bem_solve.h).
#include "tools/bake/bem_solve.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <complex>
#include <functional>
#include <stdexcept>
#include <thread>

#include "tools/bake/bem_gmres.h"
#include "tools/bake/bem_quadrature.h"

namespace {

using Complex = std::complex<double>;
using RowMajorMatrixXcd = Eigen::Matrix<Complex, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

int threadsFor(const BemOptions& options) {
    if (options.threadCount > 0) return options.threadCount;
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs body(i) for i in [0, count) on `threads` threads, handing out indices in small chunks.
void parallelFor(int count, int threads, const std::function<void(int)>& body) {
    threads = std::max(1, std::min(threads, count));
    if (threads == 1) {
        for (int i = 0; i < count; ++i) body(i);
        return;
    }
    std::atomic<int> next(0);
    const int chunk = std::max(1, std::min(16, count / (8 * threads)));
    auto work = [&] {
        for (int begin; (begin = next.fetch_add(chunk)) < count;)
            for (int i = begin; i < std::min(count, begin + chunk); ++i) body(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Complex burtonMillerCoupling(const BemSurface& surface, double waveNumber,
                             const BemOptions& options) {
    if (!options.burtonMiller) return 0;
    const double halfDiagonal = 0.5 * (surface.boxMax - surface.boxMin).norm();
    return Complex(0, 1 / std::max(waveNumber, 1 / halfDiagonal));
}

BurtonMillerEntry burtonMillerEntry(const BemSurface& surface, int i, int j, double waveNumber,
                                    Complex alpha, const BemOptions& options) {
    const BemElement& ei = surface.elements[i];
    if (i == j) {
        const BemIntegrals m = integrateSelf(ei, waveNumber);
        return {0.5 - m.doubleLayer + alpha * m.hypersingular,
                -m.single + alpha * (0.5 + m.adjointDoubleLayer)};
    }
    const BemIntegrals m = integrateOffElement(ei.centroid, ei.normal, surface.elements[j],
                                               waveNumber, options.nearFieldDepth);
    return {-m.doubleLayer + alpha * m.hypersingular, -m.single + alpha * m.adjointDoubleLayer};
}

BemSolution solveExteriorNeumann(const BemSurface& surface, double omega,
                                 const Eigen::MatrixXd& normalVelocity, const BemOptions& options) {
    const int n = static_cast<int>(surface.elements.size());
    if (!(omega > 0)) throw std::invalid_argument("angular frequency must be positive");
    if (normalVelocity.rows() != n)
        throw std::invalid_argument("normal velocity rows " +
                                    std::to_string(normalVelocity.rows()) + " != elements " +
                                    std::to_string(n));
    const int fields = static_cast<int>(normalVelocity.cols());
    const int threads = threadsFor(options);
    BemSolution solution;
    solution.omega = omega;
    const double k = omega / kSpeedOfSound_ms;
    solution.waveNumber = k;
    solution.normalGradient =
        Complex(0, -omega * kAirDensity_kgm3) * normalVelocity.cast<Complex>();
    const Eigen::MatrixXcd& q = solution.normalGradient;
    const Complex alpha = burtonMillerCoupling(surface, k, options);

    // Row i: collocation at centroid i. A = 1/2 I - D + alpha H; right side b = (-S + alpha
    // (1/2 I + D')) q, accumulated during assembly so that S and D' are never stored.
    const auto assemblyStart = std::chrono::steady_clock::now();
    RowMajorMatrixXcd a(n, n);
    Eigen::MatrixXcd b = Eigen::MatrixXcd::Zero(n, fields);
    parallelFor(n, threads, [&](int i) {
        Eigen::VectorXcd rhs = Eigen::VectorXcd::Zero(fields);
        for (int j = 0; j < n; ++j) {
            const BurtonMillerEntry entry = burtonMillerEntry(surface, i, j, k, alpha, options);
            a(i, j) = entry.system;
            rhs += entry.rightHandSide * q.row(j).transpose();
        }
        b.row(i) = rhs.transpose();
    });
    solution.assemblySeconds = secondsSince(assemblyStart);

    const auto solveStart = std::chrono::steady_clock::now();
    const Eigen::VectorXcd diagonal = a.diagonal();
    auto multiply = [&](const Eigen::VectorXcd& v, Eigen::VectorXcd& out) {
        const int blocks = std::min(threads, n);
        parallelFor(blocks, threads, [&](int t) {
            const int begin = static_cast<int>(static_cast<long>(n) * t / blocks);
            const int end = static_cast<int>(static_cast<long>(n) * (t + 1) / blocks);
            out.segment(begin, end - begin).noalias() = a.middleRows(begin, end - begin) * v;
        });
    };
    solution.pressure.resize(n, fields);
    for (int f = 0; f < fields; ++f) {
        Eigen::VectorXcd x = Eigen::VectorXcd::Zero(n);
        const GmresResult r = solveGmres(multiply, diagonal, b.col(f), x, options.gmresTolerance,
                                         options.maxIterations);
        solution.pressure.col(f) = x;
        solution.iterations.push_back(r.iterations);
        solution.converged = solution.converged && r.converged;
    }
    solution.solveSeconds = secondsSince(solveStart);
    return solution;
}

Eigen::MatrixXcd radiatedPressure(const BemSurface& surface, const BemSolution& solution,
                                  const std::vector<Eigen::Vector3d>& points,
                                  const BemOptions& options) {
    const int count = static_cast<int>(points.size());
    const int n = static_cast<int>(surface.elements.size());
    const int fields = static_cast<int>(solution.pressure.cols());
    Eigen::MatrixXcd result(count, fields);
    const Eigen::Vector3d noNormal = Eigen::Vector3d::Zero();
    // p(x) = sum_j p_j D_j(x) - q_j S_j(x).
    parallelFor(count, threadsFor(options), [&](int i) {
        Eigen::RowVectorXcd sum = Eigen::RowVectorXcd::Zero(fields);
        for (int j = 0; j < n; ++j) {
            const BemIntegrals m = integrateOffElement(points[i], noNormal, surface.elements[j],
                                                       solution.waveNumber, options.nearFieldDepth);
            sum += m.doubleLayer * solution.pressure.row(j) -
                   m.single * solution.normalGradient.row(j);
        }
        result.row(i) = sum;
    });
    return result;
}
