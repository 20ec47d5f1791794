// Greedy block selection of order-0/1 sources and their least-squares coefficients (see
// multipole_fit.h).
#include "tools/bake/transfer/multipole/multipole_fit.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <Eigen/QR>
#include <algorithm>
#include <complex>
#include <stdexcept>

namespace {

using Complex = std::complex<double>;
using Matrix4c = Eigen::Matrix<Complex, 4, 4>;
using Vector4c = Eigen::Matrix<Complex, 4, 1>;

// z^H G^+ z with the pseudo-inverse of the Hermitian 4x4 G, dropping eigenvalues below `floor`:
// the residual energy removed by adding a block whose projected Gram matrix is G.
double blockGain(const Matrix4c& gram, const Vector4c& z, double floor) {
    Eigen::SelfAdjointEigenSolver<Matrix4c> eigen(gram);
    const Vector4c y = eigen.eigenvectors().adjoint() * z;
    double gain = 0;
    for (int i = 0; i < 4; ++i)
        if (eigen.eigenvalues()[i] > floor) gain += std::norm(y[i]) / eigen.eigenvalues()[i];
    return gain;
}

}  // namespace

MultipoleFit fitMultipoles(const std::vector<Eigen::Vector3d>& points,
                           const Eigen::VectorXcd& pressure, double k,
                           const std::vector<Eigen::Vector3d>& candidates, double tolerance,
                           int maxSources) {
    const Eigen::Index m = static_cast<Eigen::Index>(points.size());
    const int c = static_cast<int>(candidates.size());
    if (pressure.size() != m) throw std::invalid_argument("one pressure per sample point");
    if (!(k > 0)) throw std::invalid_argument("wave number must be positive");
    MultipoleFit fit;
    fit.sources.resize(11, 0);
    const double pressureNorm = pressure.norm();
    if (pressureNorm == 0 || c == 0) {
        fit.relativeError = pressureNorm == 0 ? 0 : 1;
        return fit;
    }

    // Basis matrix, columns scaled to unit norm: column 4j + l is field l of candidate j.
    Eigen::MatrixXcd basis(m, 4 * c);
    Eigen::VectorXd scale(4 * c);
    for (int j = 0; j < c; ++j)
        for (Eigen::Index i = 0; i < m; ++i) {
            const auto b = multipoleBasis(candidates[j], k, points[i]);
            for (int l = 0; l < 4; ++l) basis(i, 4 * j + l) = b[l];
        }
    for (int col = 0; col < 4 * c; ++col) {
        scale[col] = basis.col(col).norm();
        basis.col(col) /= scale[col];
    }
    // Gram matrices of every candidate's block after projection off the chosen span.
    std::vector<Matrix4c> gram(c);
    for (int j = 0; j < c; ++j)
        gram[j] = basis.middleCols(4 * j, 4).adjoint() * basis.middleCols(4 * j, 4);
    const double floor = 1e-10;

    std::vector<int> chosen;
    std::vector<bool> used(c, false);
    Eigen::MatrixXcd q(m, 0);  // orthonormal basis of the chosen span
    Eigen::VectorXcd residual = pressure;
    // The residual's correlation with every column, kept up to date as the span grows: taking
    // orthonormal directions V out of the residual takes (B^H V)(V^H r) out of B^H r, and B^H V
    // is what the Gram matrices need anyway, so each step reads the basis once.
    Eigen::VectorXcd correlation = basis.adjoint() * residual;
    while (residual.norm() > tolerance * pressureNorm &&
           static_cast<int>(chosen.size()) < maxSources) {
        int best = -1;
        double bestGain = 0;
        for (int j = 0; j < c; ++j) {
            if (used[j]) continue;
            const double gain = blockGain(gram[j], correlation.segment<4>(4 * j), floor);
            if (gain > bestGain) {
                bestGain = gain;
                best = j;
            }
        }
        if (best < 0) break;  // nothing left that reduces the residual
        used[best] = true;
        chosen.push_back(best);
        // Extend the orthonormal basis by the new block (Gram-Schmidt twice), then take the new
        // directions out of every candidate's Gram matrix, the residual and its correlation.
        const Eigen::Index before = q.cols();
        for (int l = 0; l < 4; ++l) {
            Eigen::VectorXcd v = basis.col(4 * best + l);
            for (int pass = 0; pass < 2; ++pass) v -= q * (q.adjoint() * v);
            const double norm = v.norm();
            if (norm < 1e-7) continue;
            q.conservativeResize(Eigen::NoChange, q.cols() + 1);
            q.col(q.cols() - 1) = v / norm;
        }
        const Eigen::Index added = q.cols() - before;
        if (added == 0) continue;
        const auto fresh = q.rightCols(added);
        const Eigen::MatrixXcd w = fresh.adjoint() * basis;  // added x 4c
        const Eigen::VectorXcd alpha = fresh.adjoint() * residual;
        for (int j = 0; j < c; ++j) {
            const auto wj = w.middleCols(4 * j, 4);
            gram[j] -= wj.adjoint() * wj;
        }
        residual -= fresh * alpha;
        correlation -= w.adjoint() * alpha;
    }

    // Backward pruning: a greedy pick made early can become redundant once later sources are in
    // (the planted-source case). Remove the blocks whose loss raises the residual least while the
    // fit stays within the tolerance. For least squares with normal matrix N = X^H X and
    // solution c, dropping block s alone raises |r|^2 by c_s^H ((N^{-1})_ss)^{-1} c_s. The
    // cheapest blocks whose single raises add up to the room left are dropped together when the
    // fit without them holds the tolerance (each least-squares solve of a few hundred sources
    // costs seconds), else the cheapest one alone.
    const double allowed = tolerance * tolerance * pressureNorm * pressureNorm;
    Eigen::MatrixXcd selected;
    // Least squares on `blocks`: Householder QR, or with column pivoting where the blocks'
    // columns are (numerically) dependent; returns |r|^2, `full` whether they are independent.
    auto solveBlocks = [&](const std::vector<int>& blocks, Eigen::VectorXcd& coefficients,
                           bool& full) {
        const auto n = static_cast<Eigen::Index>(blocks.size());
        selected.resize(m, 4 * n);
        for (Eigen::Index s = 0; s < n; ++s)
            selected.middleCols(4 * s, 4) = basis.middleCols(4 * blocks[size_t(s)], 4);
        const Eigen::HouseholderQR<Eigen::MatrixXcd> qr(selected);
        const Eigen::VectorXd diagonal = qr.matrixQR().diagonal().cwiseAbs();
        full = diagonal.minCoeff() > 1e-10 * diagonal.maxCoeff();
        if (full) {
            coefficients = qr.solve(pressure);
        } else {
            const Eigen::ColPivHouseholderQR<Eigen::MatrixXcd> pivoted(selected);
            coefficients = pivoted.solve(pressure);
        }
        return (selected * coefficients - pressure).squaredNorm();
    };
    Eigen::VectorXcd scaled;
    double residual2 = 0;
    while (true) {
        const int n = static_cast<int>(chosen.size());
        if (n == 0) {
            residual2 = pressureNorm * pressureNorm;
            scaled.resize(0);
            break;
        }
        bool full = false;
        residual2 = solveBlocks(chosen, scaled, full);
        if (n <= 1 || residual2 > allowed || !full) break;
        const Eigen::MatrixXcd normalInverse = (selected.adjoint() * selected).inverse();
        std::vector<std::pair<double, int>> raises;
        for (int s = 0; s < n; ++s) {
            const Vector4c cs = scaled.segment<4>(4 * s);
            const Matrix4c block = normalInverse.block<4, 4>(4 * s, 4 * s);
            raises.emplace_back(std::real(cs.dot(block.ldlt().solve(cs))), s);
        }
        std::stable_sort(raises.begin(), raises.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        const double room = allowed - residual2;
        double sum = 0;
        std::vector<int> drops;
        for (const auto& [raise, s] : raises) {
            if (sum + raise > room) break;
            sum += raise;
            drops.push_back(s);
        }
        if (drops.empty()) break;
        if (drops.size() > 1) {
            std::vector<int> kept;
            for (int s = 0; s < n; ++s)
                if (std::find(drops.begin(), drops.end(), s) == drops.end())
                    kept.push_back(chosen[size_t(s)]);
            Eigen::VectorXcd keptCoefficients;
            bool keptFull = false;
            if (solveBlocks(kept, keptCoefficients, keptFull) <= allowed && keptFull) {
                chosen = kept;
                continue;
            }
        }
        chosen.erase(chosen.begin() + drops.front());
    }
    const int n = static_cast<int>(chosen.size());
    fit.relativeError = std::sqrt(residual2) / pressureNorm;
    fit.reachedCap = fit.relativeError > tolerance;
    fit.sources.resize(11, n);
    for (int s = 0; s < n; ++s) {
        std::array<Complex, 4> a;
        for (int l = 0; l < 4; ++l) a[l] = scaled[4 * s + l] / scale[4 * chosen[s] + l];
        fit.sources.col(s) = multipoleColumn(candidates[chosen[s]], a);
    }
    return fit;
}
