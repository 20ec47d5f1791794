// Shift-invert Lanczos with full reorthogonalisation in the M inner product (see
// shift_invert_lanczos.h).
#include "tools/bake/shift_invert_lanczos.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "tools/bake/sparse_ldlt.h"

LanczosResult shiftInvertLanczos(const Eigen::SparseMatrix<double>& stiffness,
                                 const Eigen::SparseMatrix<double, Eigen::RowMajor>& mass,
                                 double sigma, const LanczosOptions& options) {
    const Eigen::Index n = stiffness.rows();
    const int wanted = std::max(1, options.wanted);
    const int maxSteps = static_cast<int>(
        std::min<Eigen::Index>(n - 1, options.maxSteps > 0 ? options.maxSteps : 4 * wanted + 60));
    const Eigen::SparseMatrix<double> massColumns = mass;
    SparseLdlt shifted(stiffness - sigma * massColumns);
    LanczosResult result;
    result.negativeEigenvalues = shifted.negativeEigenvalueCount();

    // V holds the M-orthonormal Lanczos vectors, W = M V.
    Eigen::MatrixXd v(n, maxSteps + 1), w(n, maxSteps + 1);
    {
        std::mt19937 random(options.seed);
        std::normal_distribution<double> normal;
        Eigen::VectorXd start(n);
        for (Eigen::Index i = 0; i < n; ++i) start[i] = normal(random);
        const Eigen::VectorXd image = mass * start;
        const double norm = std::sqrt(start.dot(image));
        v.col(0) = start / norm;
        w.col(0) = image / norm;
    }
    std::vector<double> alpha, beta;  // the tridiagonal T_m of A in the Lanczos basis
    Eigen::VectorXd next(n), image(n), coefficients;
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> ritz;
    std::vector<int> order;
    int m = 0;
    auto converged = [&](int steps) {
        // Ritz values theta of T_m; the pair (theta_i, V s_i) has residual |beta_m s_{m,i}| in
        // the M norm (Paige). Wanted: the largest |theta|, i.e. lambda nearest sigma.
        Eigen::MatrixXd t = Eigen::MatrixXd::Zero(steps, steps);
        for (int i = 0; i < steps; ++i) {
            t(i, i) = alpha[i];
            if (i + 1 < steps) t(i, i + 1) = t(i + 1, i) = beta[i];
        }
        ritz.compute(t);
        order.resize(steps);
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            return std::abs(ritz.eigenvalues()[a]) > std::abs(ritz.eigenvalues()[b]);
        });
        const int count = std::min(wanted, steps);
        for (int i = 0; i < count; ++i) {
            const double theta = ritz.eigenvalues()[order[i]];
            const double residual =
                std::abs(beta[steps - 1] * ritz.eigenvectors()(steps - 1, order[i]));
            if (!(residual <= options.tolerance * std::abs(theta))) return false;
        }
        return count == wanted;
    };

    bool done = false;
    for (int j = 0; j < maxSteps && !done; ++j) {
        // next = A v_j = (K - sigma M)^{-1} M v_j.
        next = w.col(j);
        shifted.solveInPlace(next.data());
        // Classical Gram-Schmidt against all earlier vectors, twice: <v_i, next> = w_i^T next.
        double a = 0;
        for (int pass = 0; pass < 2; ++pass) {
            coefficients.noalias() = w.leftCols(j + 1).transpose() * next;
            next.noalias() -= v.leftCols(j + 1) * coefficients;
            a += coefficients[j];
        }
        alpha.push_back(a);
        image.noalias() = mass * next;
        const double b = std::sqrt(std::max(0.0, next.dot(image)));
        beta.push_back(b);
        m = j + 1;
        if (!(b > 0)) {  // an invariant subspace: the Ritz pairs are exact
            converged(m);
            done = true;
            break;
        }
        v.col(j + 1) = next / b;
        w.col(j + 1) = image / b;
        const bool check = m >= wanted + 5 && (m % 5 == 0 || m == maxSteps);
        if (check && converged(m)) done = true;
    }
    if (!done) converged(m);
    result.converged = done && m >= wanted;
    result.steps = m;

    const int count = std::min(wanted, m);
    std::vector<std::pair<double, int>> pairs;
    for (int i = 0; i < count; ++i)
        pairs.push_back({sigma + 1.0 / ritz.eigenvalues()[order[i]], order[i]});
    std::sort(pairs.begin(), pairs.end());
    result.eigenvalues.resize(count);
    result.vectors.resize(n, count);
    for (int i = 0; i < count; ++i) {
        result.eigenvalues[i] = pairs[i].first;
        result.vectors.col(i) = v.leftCols(m) * ritz.eigenvectors().col(pairs[i].second);
    }
    return result;
}
