// Block shift-invert Lanczos with full reorthogonalisation in the M inner product (see
// shift_invert_lanczos.h).
//
// Blocks of b vectors: each step solves with the factorised K - sigma M for b right-hand sides at
// once and orthogonalises them with matrix-matrix products, so the factor and the stored Lanczos
// vectors are streamed from memory once per block instead of once per vector; memory traffic, not
// arithmetic, is what a step costs at these sizes.
//
// With V M-orthonormal (V^T M V = I) and W = M V, the projected operator is
// T = V^T M A V = W^T A V, and A v for the newest block is what the step computes, so its column
// block of T is the Gram-Schmidt coefficients W^T (A V_j) (both passes). T is symmetric, since A
// is self-adjoint in the M inner product; it is filled column block by column block and
// symmetrised. After m blocks, A V_m = V_m T_m + V_{m+1} R_m E_m^T, so a Ritz pair (theta, V s)
// has the residual |R_m s_last| in the M norm, s_last the last block of s's entries.
#include "tools/bake/modes/shift_invert_lanczos.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "tools/bake/modes/sparse_ldlt.h"

namespace {

// M-orthonormalises the columns of z (n x b) in place, with mz = M z updated alike: z <- z R^{-1}
// with R^T R = z^T M z, by Cholesky twice (one Cholesky QR loses orthogonality as the square of
// the block's condition number; the second pass restores it). Returns R (upper triangular, the
// product of both passes' factors), or an empty matrix when the block has lost rank (then the
// caller starts afresh).
Eigen::MatrixXd orthonormalise(Eigen::MatrixXd& z, Eigen::MatrixXd& mz) {
    Eigen::MatrixXd total = Eigen::MatrixXd::Identity(z.cols(), z.cols());
    for (int pass = 0; pass < 2; ++pass) {
        const Eigen::MatrixXd gram = z.transpose() * mz;
        Eigen::LLT<Eigen::MatrixXd> cholesky(0.5 * (gram + gram.transpose()));
        if (cholesky.info() != Eigen::Success) return Eigen::MatrixXd();
        const Eigen::MatrixXd r = cholesky.matrixU();
        const double smallest = r.diagonal().cwiseAbs().minCoeff();
        const double largest = r.diagonal().cwiseAbs().maxCoeff();
        if (!(smallest > 1e-12 * largest)) return Eigen::MatrixXd();
        z = r.triangularView<Eigen::Upper>().solve<Eigen::OnTheRight>(z);
        mz = r.triangularView<Eigen::Upper>().solve<Eigen::OnTheRight>(mz);
        total = r * total;
    }
    return total;
}

}  // namespace

LanczosResult shiftInvertLanczos(const Eigen::SparseMatrix<double>& stiffness,
                                 const Eigen::SparseMatrix<double, Eigen::RowMajor>& mass,
                                 double sigma, const LanczosOptions& options) {
    const Eigen::Index n = stiffness.rows();
    const int wanted = std::max(1, options.wanted);
    const int block = static_cast<int>(std::clamp<Eigen::Index>(options.blockSize, 1, n / 4 + 1));
    const int maxVectors = static_cast<int>(std::min<Eigen::Index>(
        n - block, options.maxSteps > 0 ? options.maxSteps : 4 * wanted + 60));
    const int maxBlocks = std::max(1, maxVectors / block);
    const Eigen::SparseMatrix<double> massColumns = mass;
    SparseLdlt shifted(stiffness - sigma * massColumns);
    LanczosResult result;
    result.negativeEigenvalues = shifted.negativeEigenvalueCount();

    // V holds the M-orthonormal Lanczos blocks, W = M V; T the projected operator.
    const int capacity = (maxBlocks + 1) * block;
    Eigen::MatrixXd v(n, capacity), w(n, capacity);
    Eigen::MatrixXd t = Eigen::MatrixXd::Zero(capacity, capacity);
    std::mt19937 random(options.seed);
    std::normal_distribution<double> normal;
    auto randomBlock = [&](Eigen::MatrixXd& z, int used) {
        // A random block, orthogonal to the `used` vectors so far.
        for (Eigen::Index i = 0; i < z.size(); ++i) z.data()[i] = normal(random);
        for (int pass = 0; pass < 2 && used > 0; ++pass)
            z -= v.leftCols(used) * (w.leftCols(used).transpose() * z);
    };
    {
        Eigen::MatrixXd z(n, block), mz;
        randomBlock(z, 0);
        mz = mass * z;
        orthonormalise(z, mz);
        v.leftCols(block) = z;
        w.leftCols(block) = mz;
    }

    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> ritz;
    std::vector<int> order;
    Eigen::MatrixXd coupling = Eigen::MatrixXd::Zero(block, block);  // R_m of the newest block
    int m = 0;                                                       // vectors in V_m
    auto converged = [&]() {
        const Eigen::MatrixXd projected =
            0.5 * (t.topLeftCorner(m, m) + t.topLeftCorner(m, m).transpose());
        ritz.compute(projected);
        order.resize(m);
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            return std::abs(ritz.eigenvalues()[a]) > std::abs(ritz.eigenvalues()[b]);
        });
        const int count = std::min(wanted, m);
        for (int i = 0; i < count; ++i) {
            const double theta = ritz.eigenvalues()[order[i]];
            const double residual =
                (coupling * ritz.eigenvectors().col(order[i]).tail(block)).norm();
            if (!(residual <= options.tolerance * std::abs(theta))) return false;
        }
        return count == wanted;
    };

    bool done = false;
    Eigen::MatrixXd z(n, block), mz(n, block), coefficients;
    for (int j = 0; j < maxBlocks && !done; ++j) {
        const int first = j * block;
        // Z = A V_j = (K - sigma M)^{-1} M V_j, all b columns in one solve.
        z = w.middleCols(first, block);
        shifted.solveInPlace(z.data(), block);
        // Classical Gram-Schmidt against every earlier block, twice; the coefficients are T's.
        const int used = first + block;
        for (int pass = 0; pass < 2; ++pass) {
            coefficients.noalias() = w.leftCols(used).transpose() * z;
            z.noalias() -= v.leftCols(used) * coefficients;
            t.block(0, first, used, block) += coefficients;
        }
        mz.noalias() = mass * z;
        m = used;
        Eigen::MatrixXd r = orthonormalise(z, mz);
        if (r.size() == 0) {
            // The block lost rank: an invariant subspace (exact Ritz pairs) or a breakdown.
            // Go on with fresh random directions, which couple to nothing before them.
            coupling.setZero();
            if (converged()) {
                done = true;
                break;
            }
            randomBlock(z, used);
            mz = mass * z;
            if (orthonormalise(z, mz).size() == 0) break;
            r = Eigen::MatrixXd::Zero(block, block);
        }
        // The new block's coupling to this one; its mirror above the diagonal comes with the
        // next block's Gram-Schmidt coefficients.
        coupling = r;
        t.block(used, first, block, block) = r;
        v.middleCols(used, block) = z;
        w.middleCols(used, block) = mz;
        const bool check = m >= wanted + 4 && (j % 2 == 1 || j + 1 == maxBlocks);
        if (check && converged()) done = true;
    }
    if (!done) converged();
    result.converged = done && m >= wanted;
    result.steps = m;

    const int count = std::min(wanted, m);
    std::vector<std::pair<double, int>> pairs;
    for (int i = 0; i < count; ++i)
        pairs.push_back({sigma + 1.0 / ritz.eigenvalues()[order[i]], order[i]});
    std::sort(pairs.begin(), pairs.end());
    result.eigenvalues.resize(count);
    Eigen::MatrixXd coordinates(m, count);
    for (int i = 0; i < count; ++i) {
        result.eigenvalues[i] = pairs[i].first;
        coordinates.col(i) = ritz.eigenvectors().col(pairs[i].second);
    }
    result.vectors.noalias() = v.leftCols(m) * coordinates;
    return result;
}
