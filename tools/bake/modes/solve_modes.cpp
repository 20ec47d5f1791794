// The modal analysis of a free solid in eigen slices (see solve_modes.h): counts of the band by
// inertia, shift-invert Lanczos per slice in worker processes, one Rayleigh-Ritz step over all the
// slices' vectors, and the check that the six lowest modes are the rigid-body motions.
//
// Index
//   [SECTION] Slice results in bytes, canonical bases of the modes
//   [SECTION] The steps of solveModes, in the order it takes them
//   [SECTION] rigidBodyMotions, solveModes
#include "tools/bake/modes/solve_modes.h"

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/modes/shift_invert_lanczos.h"
#include "tools/bake/modes/sparse_ldlt.h"
#include "tools/bake/parallel/worker_processes.h"

namespace {

// [SECTION] Slice results in bytes, canonical bases of the modes

// One eigen slice: the shift, the interval whose eigenvalues it keeps, and how many eigenpairs
// nearest the shift it asks for (enough to reach both ends of the interval, by the count model).
struct SlicePlan {
    double sigma = 0, lower = 0, upper = 0;
    int wanted = 0;
};

struct SliceOutcome {
    LanczosResult lanczos;
    double reach = 0;  // every eigenvalue within this distance of the shift was found
};

std::string packLanczos(const LanczosResult& r) {
    ByteWriter out;
    out.putMatrix(Eigen::MatrixXd(r.eigenvalues));
    out.putMatrix(r.vectors);
    out.putInt(r.steps);
    out.putInt(r.converged ? 1 : 0);
    out.putInt(r.negativeEigenvalues);
    return out.take();
}

LanczosResult unpackLanczos(const std::string& bytes) {
    ByteReader in(bytes);
    LanczosResult r;
    r.eigenvalues = in.getMatrix().col(0);
    r.vectors = in.getMatrix();
    r.steps = static_cast<int>(in.getInt());
    r.converged = in.getInt() != 0;
    r.negativeEigenvalues = static_cast<int>(in.getInt());
    return r;
}

// The j-th of a fixed set of pseudo-random probe vectors (entries in [-0.5, 0.5)), the same on
// every run and every machine: splitmix64 of the entry's index.
Eigen::VectorXd probeVector(Eigen::Index size, int j) {
    Eigen::VectorXd probe(size);
    for (Eigen::Index i = 0; i < size; ++i) {
        uint64_t z =
            static_cast<uint64_t>(i) + 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(j + 1);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        probe(i) = static_cast<double>(z >> 11) * 0x1.0p-53 - 0.5;
    }
    return probe;
}

// Makes the elastic modes (columns 6.. of `vectors`, M-orthonormal, eigenvalues `lambdas`
// ascending) independent of how the solver happened to produce them. A mode's sign is not
// determined by K u = lambda M u, and inside a cluster of (near-)equal eigenvalues, whose
// relative spread is within the solve's accuracy, neither is the basis: any rotation of it is
// as good. Each cluster's basis is replaced by the M-orthogonal projections of fixed probe
// vectors r_j onto its span, P r_j = U U^T M r_j, orthonormalised in order (Gram-Schmidt in the
// M inner product): they depend on the span only. For a single mode this is the sign that makes
// u^T M r_0 positive.
void canonicaliseModes(const Eigen::VectorXd& lambdas, const Eigen::SparseMatrix<double>& mass,
                       Eigen::MatrixXd& vectors) {
    const double clusterWidth = 1e-9;  // relative: far below the split of a real pair
    const Eigen::Index n = vectors.rows();
    std::vector<Eigen::VectorXd> massProbes;
    for (Eigen::Index first = 6; first < lambdas.size();) {
        Eigen::Index last = first + 1;
        while (last < lambdas.size() &&
               lambdas(last) - lambdas(last - 1) <= clusterWidth * std::abs(lambdas(last)))
            ++last;
        const Eigen::Index size = last - first;
        while (static_cast<Eigen::Index>(massProbes.size()) < size)
            massProbes.push_back(mass * probeVector(n, static_cast<int>(massProbes.size())));
        const Eigen::MatrixXd cluster = vectors.middleCols(first, size);
        Eigen::MatrixXd coefficients(size, size);  // column j: U^T M r_j
        for (Eigen::Index j = 0; j < size; ++j)
            coefficients.col(j) = cluster.transpose() * massProbes[j];
        // Gram-Schmidt of the columns of U C in the M inner product is Gram-Schmidt of C in the
        // plain one (U is M-orthonormal): C = Q R, and U Q is the canonical basis.
        Eigen::HouseholderQR<Eigen::MatrixXd> qr(coefficients);
        Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(size, size);
        const Eigen::MatrixXd r = qr.matrixQR().triangularView<Eigen::Upper>();
        for (Eigen::Index j = 0; j < size; ++j)
            if (r(j, j) < 0) q.col(j) = -q.col(j);  // each u_j^T M r_j > 0
        vectors.middleCols(first, size) = cluster * q;
        first = last;
    }
}

// [SECTION] The steps of solveModes, in the order it takes them

// Refuses a mode count the mesh cannot give: a negative one, none without a frequency limit, or
// one with modeCount + 7 (the rigid six and one more) not below the degrees of freedom.
void requireSolvableModeCount(int dofCount, const ModeSolveOptions& options,
                              const std::string& sourceName) {
    const bool limited = options.maxFrequency > 0.0;
    if ((!limited && options.modeCount < 1) || options.modeCount < 0 ||
        options.modeCount + 7 >= dofCount) {
        std::ostringstream message;
        message << sourceName << ": cannot compute " << options.modeCount
                << " modes of a mesh with " << dofCount << " degrees of freedom";
        throw BakeError(message.str());
    }
}

// The problem in scaled units, K' = K / kScale and M' = M / mScale with unit mean diagonals: the
// Lanczos iteration compares norms against absolute thresholds, which a millimetre-sized part (M
// entries near 1e-13 kg) would otherwise fall below. lambda = lambda' kScale / mScale and
// u = u' / sqrt(mScale) bring the results back.
struct ScaledProblem {
    Eigen::SparseMatrix<double> stiffness, mass;
    Eigen::SparseMatrix<double, Eigen::RowMajor> massRows;  // M' again, stored by rows
    double mScale = 1.0;
    double toHz = 1.0;  // kScale / mScale: lambda' -> lambda (rad^2/s^2)

    // f = sqrt(lambda) / 2pi (Hz) of a scaled eigenvalue lambda'; 0 for a negative one.
    double hertz(double lambda) const {
        return std::sqrt(std::max(0.0, lambda * toHz)) / (2 * kPi);
    }
};

// Scales K and M to unit mean diagonals (see ScaledProblem).
ScaledProblem scaleProblem(const Eigen::SparseMatrix<double>& stiffnessSI,
                           const Eigen::SparseMatrix<double>& massSI) {
    const double kScale = stiffnessSI.diagonal().mean(), mScale = massSI.diagonal().mean();
    ScaledProblem problem;
    problem.stiffness = stiffnessSI * (1.0 / kScale);
    problem.mass = massSI * (1.0 / mScale);
    problem.massRows = problem.mass;
    problem.mScale = mScale;
    problem.toHz = kScale / mScale;
    return problem;
}

// The eigen slices of one solve: what every slice shares (the scaled problem, the options, the
// band) and what the slices have found so far, in the order of their plans.
struct SliceSolve {
    SliceSolve(const ScaledProblem& problem, const ModeSolveOptions& options,
               const std::string& sourceName, int dofCount, ModalBasis& basis)
        : problem(problem),
          options(options),
          sourceName(sourceName),
          dofCount(dofCount),
          limited(options.maxFrequency > 0.0),
          // The first slice's shift: slightly below zero, far below the first elastic
          // eigenvalue, so the rigid and the lowest elastic modes lie nearest it, yet large enough
          // for a well-conditioned factorisation. The ratio of the traces scales with the highest
          // eigenvalue of the mesh.
          lowestShift(-1e-8 * problem.stiffness.diagonal().sum() / problem.mass.diagonal().sum()),
          lambdaMax(limited ? std::pow(2 * kPi * options.maxFrequency, 2) / problem.toHz : 0.0),
          basis(basis) {
        workers.workerCount = options.workerCount;
    }

    const ScaledProblem& problem;
    const ModeSolveOptions& options;
    const std::string& sourceName;
    const int dofCount;
    const bool limited;        // a frequency limit bounds the band
    const double lowestShift;  // scaled, like every eigenvalue below
    const double lambdaMax;    // the band's top (0 without a limit)
    WorkerOptions workers;
    ModalBasis& basis;               // counts the slices, Lanczos steps and factorisations
    std::vector<double> keptValues;  // kept eigenpairs of every slice
    std::vector<Eigen::VectorXd> keptVectors;
    std::vector<std::pair<double, double>> covered;  // the parts of the band the slices reached
};

// One slice's eigenpairs: the `wanted` nearest its shift sigma, by shift-invert Lanczos on
// (K - sigma M)^{-1} M (in a worker process).
LanczosResult solveSlice(const SliceSolve& slices, const SlicePlan& plan) {
    LanczosOptions lanczos;
    lanczos.wanted = std::min(plan.wanted, slices.dofCount - 2);
    lanczos.tolerance = slices.options.tolerance;
    lanczos.maxSteps = slices.options.maxIterations;
    return shiftInvertLanczos(slices.problem.stiffness, slices.problem.massRows, plan.sigma,
                              lanczos);
}

// A slice's name in the workers' messages (and what TONWELL_BAKE_FAIL_UNIT matches).
std::string describeSlice(const SliceSolve& slices, const SlicePlan& plan) {
    std::ostringstream text;
    text << slices.sourceName << ": eigen slice around "
         << std::lround(slices.problem.hertz(plan.sigma)) << " Hz (" << plan.wanted << " modes)";
    return text.str();
}

// Takes in one slice's result: refuses it unconverged, records the interval it covered (every
// eigenvalue within its reach of the shift was found) and keeps its eigenpairs inside its own
// interval.
void absorbSlice(SliceSolve& slices, const SlicePlan& plan, const LanczosResult& r) {
    if (!r.converged) {
        std::ostringstream message;
        message << slices.sourceName << ": the eigen solve did not converge (slice around "
                << std::lround(slices.problem.hertz(plan.sigma)) << " Hz, " << r.steps
                << " Lanczos steps, " << plan.wanted << " eigenpairs wanted)";
        throw BakeError(message.str());
    }
    ++slices.basis.iterations;
    ++slices.basis.factorisations;
    slices.basis.operations += r.steps;
    double reach = 0;
    for (int i = 0; i < r.eigenvalues.size(); ++i)
        reach = std::max(reach, std::abs(r.eigenvalues[i] - plan.sigma));
    slices.covered.push_back(
        {std::max(plan.lower, plan.sigma - reach), std::min(plan.upper, plan.sigma + reach)});
    // Neighbouring slices keep a little more than their own interval, so that an eigenvalue on a
    // boundary, computed slightly differently by each, is not lost; duplicates go later. The
    // band's top is sharp: the count below it is exact.
    double lower = plan.lower, upper = plan.upper;
    if (std::isfinite(lower)) lower -= 1e-7 * std::abs(lower);
    if (std::isfinite(upper)) upper += 1e-7 * std::abs(upper);
    if (slices.limited) upper = std::min(upper, slices.lambdaMax);
    for (int i = 0; i < r.eigenvalues.size(); ++i)
        if (r.eigenvalues[i] >= lower && r.eigenvalues[i] < upper) {
            slices.keptValues.push_back(r.eigenvalues[i]);
            slices.keptVectors.push_back(r.vectors.col(i));
        }
}

// Solves the planned slices in worker processes, then absorbs their results in the order of the
// plans, not in the order they come back: the kept vectors' order is the Rayleigh-Ritz basis's,
// so a bake gives the same modes whichever worker or rank finished first.
void runSlices(SliceSolve& slices, const std::vector<SlicePlan>& plans) {
    std::vector<LanczosResult> results(plans.size());
    runInWorkerProcesses(
        static_cast<int>(plans.size()),
        [&](int u) { return packLanczos(solveSlice(slices, plans[u])); },
        [&](int u, const std::string& bytes) { results[u] = unpackLanczos(bytes); },
        [&](int u) { return describeSlice(slices, plans[u]); }, slices.workers);
    for (size_t u = 0; u < plans.size(); ++u) absorbSlice(slices, plans[u], results[u]);
}

// Without a frequency limit, the lowest modes: one slice just below zero asking for modeCount
// elastic modes and the six rigid ones.
void solveLowestModes(SliceSolve& slices) {
    const double infinity = std::numeric_limits<double>::infinity();
    runSlices(slices, {{slices.lowestShift, -infinity, infinity, slices.options.modeCount + 6}});
}

// The inertia of K - lambda M at the band's top and at a quarter of it, each factorised in a
// worker process: by Sylvester's law its negative pivots count the eigenvalues below lambda
// (rigid ones included).
std::array<int, 2> countModesBelowTopAndQuarter(SliceSolve& slices) {
    const double countAt[2] = {slices.lambdaMax, 0.25 * slices.lambdaMax};
    std::array<int, 2> counts = {0, 0};
    runInWorkerProcesses(
        2,
        [&](int u) {
            SparseLdlt shifted(slices.problem.stiffness - countAt[u] * slices.problem.mass);
            ByteWriter out;
            out.putInt(shifted.negativeEigenvalueCount());
            return out.take();
        },
        [&](int u, const std::string& bytes) {
            ByteReader in(bytes);
            counts[u] = static_cast<int>(in.getInt());
            ++slices.basis.factorisations;
        },
        [&](int u) {
            std::ostringstream text;
            text << slices.sourceName << ": the count of the modes below "
                 << std::lround(slices.problem.hertz(countAt[u])) << " Hz";
            return text.str();
        },
        slices.workers);
    return counts;
}

// Refuses a band that holds only the rigid modes (`total` counts the eigenvalues below its top).
void requireElasticModeInBand(const SliceSolve& slices, int total) {
    if (total - 6 < 1) {
        std::ostringstream message;
        message << slices.sourceName << ": no elastic mode lies below the frequency limit of "
                << slices.options.maxFrequency << " Hz";
        throw BakeError(message.str());
    }
}

// The exponent p of the model of the count below lambda, N = total (lambda / lambda_max)^p, from
// the counts at lambda_max and lambda_max / 4: p = log(N_max / N_quarter) / log 4, kept in
// [0.3, 3] (about 1.5 for a bulky solid, nearer 1 for thin walls; 1.5 without an elastic mode in
// the quarter).
double countModelExponent(const std::array<int, 2>& counts) {
    double p = 1.5;
    if (counts[1] > 6 && counts[0] > counts[1])
        p = std::clamp(std::log(double(counts[0]) / counts[1]) / std::log(4.0), 0.3, 3.0);
    return p;
}

// The first round's slices: about total / modesPerSlice of them, of equal modelled counts, the
// boundaries at lambda(N) = lambda_max (N / total)^(1/p); each asks for 30 % more than its share
// (the model is rough), so that the windows overlap and rarely leave a gap. The lowest slice
// keeps everything below its top, the rigid modes included, around the shift just below zero.
std::vector<SlicePlan> planSlices(const SliceSolve& slices, int total, double p) {
    const double infinity = std::numeric_limits<double>::infinity();
    const double lambdaMax = slices.lambdaMax;
    auto lambdaAtCount = [&](double count) {
        return lambdaMax * std::pow(std::clamp(count / total, 0.0, 1.0), 1.0 / p);
    };
    const int perSlice = std::max(8, slices.options.modesPerSlice);
    const int sliceCount = std::max(1, static_cast<int>(std::lround(double(total) / perSlice)));
    std::vector<SlicePlan> plans;
    for (int j = 0; j < sliceCount; ++j) {
        const double share = double(total) / sliceCount;
        SlicePlan plan;
        plan.lower = j == 0 ? -infinity : lambdaAtCount(j * share);
        plan.upper = j + 1 == sliceCount ? lambdaMax : lambdaAtCount((j + 1) * share);
        plan.sigma = j == 0 ? slices.lowestShift : 0.5 * (plan.lower + plan.upper);
        plan.wanted = static_cast<int>(std::ceil(1.3 * share)) + 6;
        plans.push_back(plan);
    }
    return plans;
}

// Slices for the gaps between the sorted covered intervals and above the last of them, up to the
// band's top: the parts no slice reached (the model's density was off there). Each asks for 50 %
// more than the model expects there, total ((b / lambda_max)^p - (a / lambda_max)^p), and 8 more.
std::vector<SlicePlan> planGapSlices(const std::vector<std::pair<double, double>>& covered,
                                     int total, double p, double lambdaMax) {
    const double infinity = std::numeric_limits<double>::infinity();
    std::vector<SlicePlan> gaps;
    double reached = covered.empty() ? -infinity : covered.front().second;
    for (size_t c = 1; c < covered.size(); ++c) {
        if (covered[c].first > reached) {
            const double a = reached, b = covered[c].first;
            const double expected = total * (std::pow(std::max(0.0, b) / lambdaMax, p) -
                                             std::pow(std::max(0.0, a) / lambdaMax, p));
            gaps.push_back({0.5 * (a + b), a, b, static_cast<int>(std::ceil(1.5 * expected)) + 8});
        }
        reached = std::max(reached, covered[c].second);
    }
    if (reached < lambdaMax) {
        const double a = reached, b = lambdaMax;
        const double expected = total * (1.0 - std::pow(std::max(0.0, a) / lambdaMax, p));
        gaps.push_back({0.5 * (a + b), a, b, static_cast<int>(std::ceil(1.5 * expected)) + 8});
    }
    return gaps;
}

// Up to three rounds of slices for the gaps the slices so far have left in the band.
void fillGaps(SliceSolve& slices, int total, double p) {
    for (int round = 0; round < 3; ++round) {
        std::sort(slices.covered.begin(), slices.covered.end());
        const std::vector<SlicePlan> gaps =
            planGapSlices(slices.covered, total, p, slices.lambdaMax);
        if (gaps.empty()) break;
        runSlices(slices, gaps);
    }
}

// Drops an eigenpair found twice (by two slices): equal eigenvalues (to 1e-6 relative) and
// M-parallel vectors (|u_i^T M u_j| > 1/2); what stays is in ascending order of eigenvalue.
void dropDuplicates(SliceSolve& slices) {
    std::vector<double>& keptValues = slices.keptValues;
    std::vector<Eigen::VectorXd>& keptVectors = slices.keptVectors;
    std::vector<int> order(keptValues.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return keptValues[a] < keptValues[b]; });
    std::vector<double> values;
    std::vector<Eigen::VectorXd> vectors;
    for (int i : order) {
        bool duplicate = false;
        for (size_t j = values.size(); j-- > 0;) {
            if (keptValues[i] - values[j] > 1e-6 * std::abs(keptValues[i])) break;
            if (std::abs(vectors[j].dot(slices.problem.massRows * keptVectors[i])) > 0.5)
                duplicate = true;
        }
        if (duplicate) continue;
        values.push_back(keptValues[i]);
        vectors.push_back(std::move(keptVectors[i]));
    }
    keptValues = std::move(values);
    keptVectors = std::move(vectors);
}

// Refuses a band whose slices found other than the `total` eigenpairs the inertia counts below
// its top.
void requireEveryModeFound(const SliceSolve& slices, int total) {
    if (static_cast<int>(slices.keptValues.size()) != total) {
        std::ostringstream message;
        message << slices.sourceName << ": the eigen slices found " << slices.keptValues.size() - 6
                << " modes below " << slices.options.maxFrequency << " Hz where the inertia counts "
                << total - 6 << " (a multiple eigenvalue missed?)";
        throw BakeError(message.str());
    }
}

// With a frequency limit, every mode below it: the count by inertia, slices placed by the count
// model, more slices for any gap, duplicates dropped, and the count proved.
void solveBand(SliceSolve& slices) {
    const std::array<int, 2> counts = countModesBelowTopAndQuarter(slices);
    const int total = counts[0];
    requireElasticModeInBand(slices, total);
    const double p = countModelExponent(counts);
    runSlices(slices, planSlices(slices, total, p));
    fillGaps(slices, total, p);
    dropDuplicates(slices);
    requireEveryModeFound(slices, total);
}

// Eigenpairs in SI units: lambda (rad^2/s^2) ascending, and the M-orthonormal vectors as columns.
struct ModePairs {
    Eigen::VectorXd lambdas;
    Eigen::MatrixXd vectors;
};

// Rayleigh-Ritz on the span of all kept vectors X (emptied here): the small problem
// (X^T K X) y = lambda (X^T M X) y gives vectors that are M-orthonormal to rounding, also inside
// degenerate pairs and across slices. Records the largest relative residual of the elastic pairs,
// |K u - lambda M u| / |lambda M u|, and brings the pairs back to SI units.
ModePairs rayleighRitz(const ScaledProblem& problem, std::vector<Eigen::VectorXd>& keptVectors,
                       int dofCount, ModalBasis& basis, const std::string& sourceName) {
    Eigen::MatrixXd ritz(dofCount, static_cast<Eigen::Index>(keptVectors.size()));
    for (size_t j = 0; j < keptVectors.size(); ++j) ritz.col(j) = keptVectors[j];
    keptVectors.clear();
    const Eigen::MatrixXd stiffRitz = problem.stiffness * ritz, massRitz = problem.mass * ritz;
    const Eigen::MatrixXd reducedK = ritz.transpose() * stiffRitz;
    const Eigen::MatrixXd reducedM = ritz.transpose() * massRitz;
    Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::MatrixXd> reduced(
        0.5 * (reducedK + reducedK.transpose()), 0.5 * (reducedM + reducedM.transpose()));
    if (reduced.info() != Eigen::Success)
        throw BakeError(sourceName +
                        ": the Rayleigh-Ritz step failed (the slices' vectors are dependent)");
    const Eigen::VectorXd lambdasScaled = reduced.eigenvalues();  // ascending
    Eigen::MatrixXd vectorsScaled = ritz * reduced.eigenvectors();
    {
        const Eigen::MatrixXd residual =
            stiffRitz * reduced.eigenvectors() -
            massRitz * reduced.eigenvectors() * lambdasScaled.asDiagonal();
        const Eigen::MatrixXd massImages = massRitz * reduced.eigenvectors();
        for (int j = 6; j < lambdasScaled.size(); ++j)
            basis.largestResidual = std::max(
                basis.largestResidual,
                residual.col(j).norm() / (std::abs(lambdasScaled(j)) * massImages.col(j).norm()));
    }
    ModePairs modes;
    modes.lambdas = lambdasScaled * problem.toHz;  // SI
    modes.vectors = vectorsScaled * (1.0 / std::sqrt(problem.mScale));
    return modes;
}

// Refuses a solve that found no elastic mode beside the six rigid ones.
void requireSevenModes(const ModePairs& modes, const std::string& sourceName) {
    if (modes.lambdas.size() < 7)
        throw BakeError(sourceName + ": the eigen solve found fewer than seven modes");
}

// The rigid motions R made M-orthonormal: R L^{-T}, with R^T M R = L L^T (Cholesky).
Eigen::MatrixXd massOrthonormalRigidMotions(const std::vector<Eigen::Vector3d>& nodes,
                                            const Eigen::SparseMatrix<double>& massSI) {
    Eigen::MatrixXd rigid = rigidBodyMotions(nodes);
    const Eigen::MatrixXd gram = rigid.transpose() * (massSI * rigid);
    Eigen::LLT<Eigen::MatrixXd> llt(gram);
    rigid = llt.matrixU().solve<Eigen::OnTheRight>(rigid);
    return rigid;
}

// The six lowest modes must be rigid: each lies in the span of the rigid motions (the M-norm of
// u - R R^T M u below 1e-4) and the first elastic eigenvalue stands clear of them (the largest
// rigid |lambda| below 1e-6 of it). Records the rigid eigenvalues and the largest residual.
void checkRigidModes(const ModePairs& modes, const std::vector<Eigen::Vector3d>& nodes,
                     const Eigen::SparseMatrix<double>& massSI, ModalBasis& basis,
                     const std::string& sourceName) {
    const Eigen::MatrixXd rigid = massOrthonormalRigidMotions(nodes, massSI);
    basis.rigidEigenvalues = modes.lambdas.head(6);
    for (int j = 0; j < 6; ++j) {
        const Eigen::VectorXd u = modes.vectors.col(j);
        const Eigen::VectorXd residual = u - rigid * (rigid.transpose() * (massSI * u));
        basis.rigidResidual = std::max(basis.rigidResidual,
                                       std::sqrt(std::max(0.0, residual.dot(massSI * residual))));
    }
    const double firstElastic = modes.lambdas(6);
    const double rigidLargest = modes.lambdas.head(6).cwiseAbs().maxCoeff();
    if (!(basis.rigidResidual < 1e-4) || !(rigidLargest < 1e-6 * firstElastic)) {
        std::ostringstream message;
        message << sourceName << ": the six lowest modes are not the rigid-body motions (residual "
                << basis.rigidResidual << ", largest rigid eigenvalue " << rigidLargest
                << ", first elastic " << firstElastic << "); is the solid in more than one piece?";
        throw BakeError(message.str());
    }
}

// How many elastic modes the basis keeps: all found, at most modeCount when set, and with a
// frequency limit only those with lambda <= (2 pi maxFrequency)^2; refuses a limit below the
// lowest elastic mode.
int keptElasticModeCount(const Eigen::VectorXd& lambdas, const ModeSolveOptions& options,
                         const std::string& sourceName) {
    int kept = static_cast<int>(lambdas.size()) - 6;
    if (options.modeCount > 0) kept = std::min(kept, options.modeCount);
    if (options.maxFrequency > 0.0) {
        const double lambdaLimit = std::pow(2 * kPi * options.maxFrequency, 2);
        int below = 0;
        while (below < kept && lambdas(6 + below) <= lambdaLimit) ++below;
        kept = below;
        if (kept == 0) {
            std::ostringstream message;
            message << sourceName << ": no elastic mode lies below the frequency limit of "
                    << options.maxFrequency << " Hz (the lowest is "
                    << std::sqrt(lambdas(6)) / (2 * kPi) << " Hz)";
            throw BakeError(message.str());
        }
    }
    return kept;
}

}  // namespace

// [SECTION] rigidBodyMotions, solveModes

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
    requireSolvableModeCount(dofCount, options, sourceName);
    const ScaledProblem problem = scaleProblem(stiffnessSI, massSI);
    ModalBasis basis;
    SliceSolve slices(problem, options, sourceName, dofCount, basis);
    if (slices.limited)
        solveBand(slices);
    else
        solveLowestModes(slices);
    ModePairs modes = rayleighRitz(problem, slices.keptVectors, dofCount, basis, sourceName);
    requireSevenModes(modes, sourceName);
    checkRigidModes(modes, nodes, massSI, basis, sourceName);
    canonicaliseModes(modes.lambdas, massSI, modes.vectors);
    const int kept = keptElasticModeCount(modes.lambdas, options, sourceName);
    basis.eigenvalues = modes.lambdas.segment(6, kept);
    basis.shapes = modes.vectors.middleCols(6, kept);
    basis.frequencies = basis.eigenvalues.cwiseMax(0.0).cwiseSqrt() / (2 * kPi);
    return basis;
}
