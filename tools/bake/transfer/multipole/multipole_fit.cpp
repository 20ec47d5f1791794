// Greedy block selection of order-0/1 sources and their least-squares coefficients (see
// multipole_fit.h).
#include "tools/bake/transfer/multipole/multipole_fit.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <Eigen/QR>
#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <stdexcept>

namespace {

using Complex = std::complex<double>;
using Matrix4c = Eigen::Matrix<Complex, 4, 4>;
using Vector4c = Eigen::Matrix<Complex, 4, 1>;

// A greedy step's later picks must each remove at least this share of what its first removed.
constexpr double kStepGainRatio = 0.5;
// The held-out error's rise above its least (and the sources' growth beyond the count there) at
// which the greedy selection takes later sources for fits of the samples' aliases.
constexpr double kHeldOutRise = 1.25;

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
                           int maxSources, int blocksPerStep) {
    return fitMultipolesUntil(points, pressure, k, candidates, {tolerance}, maxSources,
                              blocksPerStep, [](const MultipoleFit&) { return true; });
}

MultipoleFit fitMultipolesUntil(const std::vector<Eigen::Vector3d>& points,
                                const Eigen::VectorXcd& pressure, double k,
                                const std::vector<Eigen::Vector3d>& candidates,
                                const std::vector<double>& tolerances, int maxSources,
                                int blocksPerStep,
                                const std::function<bool(const MultipoleFit&)>& accept,
                                const HeldOutField& heldOut) {
    const Eigen::Index m = static_cast<Eigen::Index>(points.size());
    const int c = static_cast<int>(candidates.size());
    if (pressure.size() != m) throw std::invalid_argument("one pressure per sample point");
    if (!(k > 0)) throw std::invalid_argument("wave number must be positive");
    if (blocksPerStep < 1) throw std::invalid_argument("at least one block per greedy step");
    if (tolerances.empty()) throw std::invalid_argument("at least one tolerance");
    const bool watchHeldOut = heldOut.points != nullptr && heldOut.pressure != nullptr &&
                              !heldOut.points->empty() && heldOut.pressure->norm() > 0;
    if (watchHeldOut && heldOut.pressure->size() != Eigen::Index(heldOut.points->size()))
        throw std::invalid_argument("one held-out pressure per held-out point");
    const double pressureNorm = pressure.norm();
    if (!std::isfinite(pressureNorm)) {
        // A field with a sample that is not a number (a solve that failed) has nothing to fit:
        // no sources, and an error above every tolerance, so that it is reported, not stored as
        // a silent mode.
        MultipoleFit failed;
        failed.sources.resize(11, 0);
        failed.relativeError = std::numeric_limits<double>::infinity();
        failed.reachedCap = true;
        return failed;
    }
    if (pressureNorm == 0 || c == 0) {
        MultipoleFit none;
        none.sources.resize(11, 0);
        none.relativeError = pressureNorm == 0 ? 0 : 1;
        return none;
    }

    // The basis, columns scaled to unit norm: column 4j + l is field l of candidate j. Every
    // greedy step projects all of it onto the step's new directions, and that one wide product is
    // what the fit costs; it is kept in single precision, which halves the bytes each step reads
    // and doubles the arithmetic's width, and only ranks candidates (a gain off by a part in 10^5
    // picks the same source). Everything that sets the sources and their coefficients (the span,
    // the shortlist, the least squares) takes its columns in double precision, recomputed for the
    // few candidates it needs.
    Eigen::VectorXd scale(4 * c);
    std::vector<Matrix4c> gram(c);  // each block's Gram matrix after projection off the span
    Eigen::VectorXcd correlation(4 * c);
    Eigen::MatrixXcf wide(m, 4 * c);
    {
        Eigen::MatrixXcd block(m, 4);
        for (int j = 0; j < c; ++j) {
            for (Eigen::Index i = 0; i < m; ++i) {
                const auto b = multipoleBasis(candidates[j], k, points[i]);
                for (int l = 0; l < 4; ++l) block(i, l) = b[l];
            }
            for (int l = 0; l < 4; ++l) {
                scale[4 * j + l] = block.col(l).norm();
                block.col(l) /= scale[4 * j + l];
            }
            gram[j] = block.adjoint() * block;
            // The residual's correlation with every column, kept up to date as the span grows.
            correlation.segment<4>(4 * j) = block.adjoint() * pressure;
            wide.middleCols(4 * j, 4) = block.cast<std::complex<float>>();
        }
    }
    auto blockColumns = [&](int j) {
        Eigen::MatrixXcd block(m, 4);
        for (Eigen::Index i = 0; i < m; ++i) {
            const auto b = multipoleBasis(candidates[j], k, points[i]);
            for (int l = 0; l < 4; ++l) block(i, l) = b[l] / scale[4 * j + l];
        }
        return block;
    };
    // Candidate j's four scaled fields at the held-out points.
    const Eigen::Index mh = watchHeldOut ? Eigen::Index(heldOut.points->size()) : 0;
    auto heldOutColumns = [&](int j) {
        Eigen::MatrixXcd block(mh, 4);
        for (Eigen::Index i = 0; i < mh; ++i) {
            const auto b = multipoleBasis(candidates[j], k, (*heldOut.points)[size_t(i)]);
            for (int l = 0; l < 4; ++l) block(i, l) = b[l] / scale[4 * j + l];
        }
        return block;
    };
    // Below this a block's projected Gram eigenvalue is taken as zero: the single-precision
    // updates leave errors of about 1e-6 in it.
    const double floor = 1e-5;

    std::vector<int> chosen;
    std::vector<bool> used(c, false);
    // Orthonormal basis of the chosen span: its first spanCols columns. A block adds at most
    // four, and no more than m can be independent.
    Eigen::MatrixXcd span(m, std::min<Eigen::Index>(m, 4 * Eigen::Index(maxSources)));
    Eigen::Index spanCols = 0;
    // The span's directions at the held-out points: each column the same combination of the
    // candidates' fields as span's, evaluated there.
    Eigen::MatrixXcd heldSpan(mh, watchHeldOut ? span.cols() : 0);
    // Extends the span by candidate j's block: its four columns taken off the span (classical
    // Gram-Schmidt on the block, so that each pass reads the span once), then off each other;
    // columns that were (numerically) in the span already are dropped. Returns how many columns
    // were added.
    auto extendSpan = [&](int j) -> Eigen::Index {
        Eigen::MatrixXcd v = blockColumns(j);
        Eigen::MatrixXcd vh = watchHeldOut ? heldOutColumns(j) : Eigen::MatrixXcd();
        auto takeOffSpan = [&]() {
            const auto q = span.leftCols(spanCols);
            const Eigen::MatrixXcd g = q.adjoint() * v;
            v -= q * g;
            if (watchHeldOut) vh -= heldSpan.leftCols(spanCols) * g;
        };
        if (spanCols > 0) {
            // A second pass only where the first cancelled most of a column (Kahan's "twice is
            // enough": a column that kept over half its norm is orthogonal to working precision).
            takeOffSpan();
            if (v.colwise().norm().minCoeff() < 0.5) takeOffSpan();
        }
        const Eigen::Index before = spanCols;
        for (int l = 0; l < 4 && spanCols < span.cols(); ++l) {
            Eigen::VectorXcd column = v.col(l);
            Eigen::VectorXcd heldColumn =
                watchHeldOut ? Eigen::VectorXcd(vh.col(l)) : Eigen::VectorXcd();
            for (int pass = 0; pass < 2; ++pass)
                for (Eigen::Index i = before; i < spanCols; ++i) {
                    const Complex d = span.col(i).dot(column);
                    column -= span.col(i) * d;
                    if (watchHeldOut) heldColumn -= heldSpan.col(i) * d;
                }
            const double norm = column.norm();
            if (norm < 1e-7) continue;
            if (watchHeldOut) heldSpan.col(spanCols) = heldColumn / norm;
            span.col(spanCols++) = column / norm;
        }
        return spanCols - before;
    };
    Eigen::VectorXcd residual = pressure;
    // The greedy fit at the held-out points (the span's projection of the samples, carried out
    // there), its least error so far and the sources it had then.
    Eigen::VectorXcd heldFit = Eigen::VectorXcd::Zero(mh);
    const double heldNorm = watchHeldOut ? heldOut.pressure->norm() : 0;
    double leastHeldError = std::numeric_limits<double>::infinity();
    size_t sourcesAtLeast = 0;
    auto heldError = [&]() { return (heldFit - *heldOut.pressure).norm() / heldNorm; };
    auto risenPastLeast = [&]() {
        return heldError() > kHeldOutRise * leastHeldError &&
               double(chosen.size()) >= kHeldOutRise * double(sourcesAtLeast);
    };
    // Taking orthonormal directions F out of the residual takes (B^H F)(F^H r) out of the
    // correlation B^H r, and B^H F is what the Gram matrices need anyway.
    // Each step reads the whole basis once (B^H F), which at a few thousand samples and columns
    // is what a step costs. A step therefore takes up to blocksPerStep blocks: the best one, then
    // greedily from a shortlist of the next best (their Gram matrices and correlations brought up
    // to date exactly after each pick, on the shortlist's columns only) while each still removes
    // at least kStepGainRatio of what the step's first pick removed. With one block per step
    // this is plain orthogonal matching pursuit in blocks.
    const int shortlistSize = blocksPerStep > 1 ? 4 * blocksPerStep : 1;
    std::vector<double> gains(c);
    std::vector<int> order(c);
    // Each tolerance in turn: the greedy selection goes on from where the previous one stopped
    // (a fit to a tighter tolerance from scratch would retrace its steps), and each ends in its
    // own pruned least-squares fit.
    for (size_t target = 0;; ++target) {
        const double tolerance = tolerances[target];
        while (residual.norm() > tolerance * pressureNorm &&
               static_cast<int>(chosen.size()) < maxSources) {
            for (int j = 0; j < c; ++j)
                gains[j] = used[j] ? -1 : blockGain(gram[j], correlation.segment<4>(4 * j), floor);
            for (int j = 0; j < c; ++j) order[j] = j;
            const int listed = std::min(shortlistSize, c);
            std::partial_sort(order.begin(), order.begin() + listed, order.end(),
                              [&](int a, int b) { return gains[a] > gains[b]; });
            if (!(gains[order[0]] > 0)) break;  // nothing left that reduces the residual
            std::vector<int> shortlist(order.begin(), order.begin() + listed);
            std::vector<Matrix4c> shortGram(static_cast<size_t>(listed));
            Eigen::MatrixXcd shortBasis(m, 4 * listed);
            Eigen::VectorXcd shortCorrelation(4 * listed);
            for (int s = 0; s < listed; ++s) {
                shortGram[size_t(s)] = gram[shortlist[size_t(s)]];
                shortBasis.middleCols(4 * s, 4) = blockColumns(shortlist[size_t(s)]);
                shortCorrelation.segment<4>(4 * s) =
                    correlation.segment<4>(4 * shortlist[size_t(s)]);
            }
            const Eigen::Index stepStart = spanCols;
            Eigen::VectorXcd stepAlpha(0);
            double firstGain = 0;
            for (int pick = 0; pick < blocksPerStep; ++pick) {
                if (static_cast<int>(chosen.size()) >= maxSources ||
                    residual.norm() <= tolerance * pressureNorm)
                    break;
                int best = -1;
                double bestGain = 0;
                for (int s = 0; s < listed; ++s) {
                    if (used[shortlist[size_t(s)]]) continue;
                    const double gain =
                        blockGain(shortGram[size_t(s)], shortCorrelation.segment<4>(4 * s), floor);
                    if (gain > bestGain) {
                        bestGain = gain;
                        best = s;
                    }
                }
                if (best < 0 || (pick > 0 && bestGain < kStepGainRatio * firstGain)) break;
                if (pick == 0) firstGain = bestGain;
                const int j = shortlist[size_t(best)];
                used[j] = true;
                chosen.push_back(j);
                const Eigen::Index added = extendSpan(j);
                if (added == 0) continue;
                const auto fresh = span.middleCols(spanCols - added, added);
                const Eigen::MatrixXcd w = fresh.adjoint() * shortBasis;  // added x 4 listed
                const Eigen::VectorXcd alpha = fresh.adjoint() * residual;
                for (int s = 0; s < listed; ++s) {
                    const auto ws = w.middleCols(4 * s, 4);
                    shortGram[size_t(s)] -= ws.adjoint() * ws;
                }
                shortCorrelation -= w.adjoint() * alpha;
                residual -= fresh * alpha;
                if (watchHeldOut) heldFit += heldSpan.middleCols(spanCols - added, added) * alpha;
                stepAlpha.conservativeResize(stepAlpha.size() + added);
                stepAlpha.tail(added) = alpha;
            }
            // The step's directions out of every candidate's Gram matrix and correlation, in one
            // pass over the basis. The directions are orthonormal and orthogonal to the span before
            // the step, so their coefficients against the step's first residual are the ones
            // taken out one pick at a time.
            const Eigen::Index added = spanCols - stepStart;
            if (added == 0) continue;
            const auto fresh = span.middleCols(stepStart, added);
            const Eigen::MatrixXcf freshSingle = fresh.cast<std::complex<float>>();
            const Eigen::MatrixXcd w =
                (freshSingle.adjoint() * wide).cast<Complex>();  // added x 4c
            for (int j = 0; j < c; ++j) {
                const auto wj = w.middleCols(4 * j, 4);
                gram[j] -= wj.adjoint() * wj;
            }
            correlation -= w.adjoint() * stepAlpha;
            if (watchHeldOut) {
                const double error = heldError();
                if (error < leastHeldError) {
                    leastHeldError = error;
                    sourcesAtLeast = chosen.size();
                }
                if (risenPastLeast()) break;
            }
        }
        // Past the least held-out error by a clear margin: keep the sources picked up to it.
        const bool pastLeast = watchHeldOut && risenPastLeast();
        if (pastLeast) chosen.resize(sourcesAtLeast);

        // Backward pruning: a greedy pick made early can become redundant once later sources are in
        // (the planted-source case). Remove the blocks whose loss raises the residual least while
        // the fit stays within the tolerance. For least squares with normal matrix N = X^H X and
        // solution c, dropping block s alone raises |r|^2 by c_s^H ((N^{-1})_ss)^{-1} c_s. The
        // cheapest blocks whose single raises add up to the room left are dropped together when the
        // fit without them holds the tolerance (each least-squares solve of a few hundred sources
        // costs seconds), else the cheapest one alone.
        const double allowed = tolerance * tolerance * pressureNorm * pressureNorm;
        std::vector<int> kept = chosen;  // the greedy's picks stay for the next tolerance
        Eigen::MatrixXcd selected;
        Eigen::HouseholderQR<Eigen::MatrixXcd> qr;
        // Least squares on `blocks`: Householder QR, or with column pivoting where the blocks'
        // columns are (numerically) dependent; returns |r|^2, `full` whether they are independent.
        auto solveBlocks = [&](const std::vector<int>& blocks, Eigen::VectorXcd& coefficients,
                               bool& full) {
            const auto n = static_cast<Eigen::Index>(blocks.size());
            selected.resize(m, 4 * n);
            for (Eigen::Index s = 0; s < n; ++s)
                selected.middleCols(4 * s, 4) = blockColumns(blocks[size_t(s)]);
            qr.compute(selected);
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
            const int n = static_cast<int>(kept.size());
            if (n == 0) {
                residual2 = pressureNorm * pressureNorm;
                scaled.resize(0);
                break;
            }
            bool full = false;
            residual2 = solveBlocks(kept, scaled, full);
            if (n <= 1 || residual2 > allowed || !full) break;
            // N = R^H R with the QR's triangle, so N^{-1} = R^{-1} R^{-H}: its diagonal blocks are
            // the products of R^{-1}'s rows with themselves.
            const Eigen::Index columns = 4 * Eigen::Index(n);
            const Eigen::MatrixXcd rInverse =
                qr.matrixQR().topRows(columns).triangularView<Eigen::Upper>().solve(
                    Eigen::MatrixXcd::Identity(columns, columns));
            std::vector<std::pair<double, int>> raises;
            for (int s = 0; s < n; ++s) {
                const Vector4c cs = scaled.segment<4>(4 * s);
                const auto rows = rInverse.middleRows(4 * s, 4);
                const Matrix4c block = rows * rows.adjoint();
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
                std::vector<int> fewer;
                for (int s = 0; s < n; ++s)
                    if (std::find(drops.begin(), drops.end(), s) == drops.end())
                        fewer.push_back(kept[size_t(s)]);
                Eigen::VectorXcd fewerCoefficients;
                bool fewerFull = false;
                if (solveBlocks(fewer, fewerCoefficients, fewerFull) <= allowed && fewerFull) {
                    kept = fewer;
                    continue;
                }
            }
            kept.erase(kept.begin() + drops.front());
        }
        const int n = static_cast<int>(kept.size());
        MultipoleFit fit;
        fit.relativeError = std::sqrt(residual2) / pressureNorm;
        fit.reachedCap = fit.relativeError > tolerance;
        fit.stoppedAtHeldOut = pastLeast;
        fit.sources.resize(11, n);
        for (int s = 0; s < n; ++s) {
            std::array<Complex, 4> a;
            for (int l = 0; l < 4; ++l) a[l] = scaled[4 * s + l] / scale[4 * kept[s] + l];
            fit.sources.col(s) = multipoleColumn(candidates[kept[s]], a);
        }
        const bool accepted = accept(fit);
        if (accepted || pastLeast || target + 1 == tolerances.size()) return fit;
    }
}
