// Greedy block selection of order-0/1 sources and their least-squares coefficients (see
// multipole_fit.h).
#include "tools/bake/transfer/multipole/multipole_fit.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <Eigen/QR>
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
    while (residual.norm() > tolerance * pressureNorm &&
           static_cast<int>(chosen.size()) < maxSources) {
        const Eigen::VectorXcd correlation = basis.adjoint() * residual;
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
        // Extend the orthonormal basis by the new block (Gram-Schmidt twice), and take each new
        // direction out of every candidate's Gram matrix.
        for (int l = 0; l < 4; ++l) {
            Eigen::VectorXcd v = basis.col(4 * best + l);
            for (int pass = 0; pass < 2; ++pass) v -= q * (q.adjoint() * v);
            const double norm = v.norm();
            if (norm < 1e-7) continue;
            v /= norm;
            q.conservativeResize(Eigen::NoChange, q.cols() + 1);
            q.col(q.cols() - 1) = v;
            const Eigen::RowVectorXcd w = v.adjoint() * basis;
            for (int j = 0; j < c; ++j) {
                const Eigen::Matrix<Complex, 1, 4> wj = w.segment<4>(4 * j);
                gram[j] -= wj.adjoint() * wj;
            }
            residual -= v * v.dot(residual);
        }
    }

    // Backward pruning: a greedy pick made early can become redundant once later sources are in
    // (the planted-source case). Remove, one at a time, the block whose loss raises the residual
    // least while the fit stays within the tolerance. For least squares with normal matrix
    // N = X^H X and solution c, dropping block s raises |r|^2 by c_s^H ((N^{-1})_ss)^{-1} c_s.
    const double allowed = tolerance * tolerance * pressureNorm * pressureNorm;
    Eigen::VectorXcd scaled;
    Eigen::MatrixXcd selected;
    double residual2 = 0;
    while (true) {
        const int n = static_cast<int>(chosen.size());
        if (n == 0) {
            residual2 = pressureNorm * pressureNorm;
            scaled.resize(0);
            break;
        }
        selected.resize(m, 4 * n);
        for (int s = 0; s < n; ++s)
            selected.middleCols(4 * s, 4) = basis.middleCols(4 * chosen[s], 4);
        const Eigen::ColPivHouseholderQR<Eigen::MatrixXcd> qr(selected);
        scaled = qr.solve(pressure);
        residual2 = (selected * scaled - pressure).squaredNorm();
        if (n <= 1 || residual2 > allowed || qr.rank() < 4 * n) break;
        const Eigen::MatrixXcd normalInverse = (selected.adjoint() * selected).inverse();
        int drop = -1;
        double least = allowed - residual2;
        for (int s = 0; s < n; ++s) {
            const Vector4c cs = scaled.segment<4>(4 * s);
            const Matrix4c block = normalInverse.block<4, 4>(4 * s, 4 * s);
            const double increase = std::real(cs.dot(block.ldlt().solve(cs)));
            if (increase <= least) {
                least = increase;
                drop = s;
            }
        }
        if (drop < 0) break;
        chosen.erase(chosen.begin() + drop);
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
