// The baker and the program must hear the same transfer: the baker fits and checks its sources
// with evaluateMultipoles (tools/bake/transfer/multipole/multipole_basis.h), the program plays them
// through TransferModel (sound/transfer_model.h), vectorised and literal. Random sources, evaluated
// by both at random points, on a source's polar axis and far away, must agree to 1e-12 of the size
// of their terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "sound/single_precision_transfer.h"
#include "sound/transfer_model.h"
#include "tests/sound/lane_builds.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"

namespace {

using Complex = std::complex<double>;

// One mode: sources (11 x n) and the wave number they radiate at.
struct RandomMode {
    MultipoleSources sources;
    double waveNumber;
};

// Sources inside a 0.6 m box, coefficients of orders 0 and 1 with random phases and magnitudes
// spread over six decades, wave numbers from a tenth of one to 300 per metre (5 Hz to 16 kHz).
RandomMode randomMode(std::mt19937_64& random, int sourceCount) {
    std::uniform_real_distribution<double> position(-0.3, 0.3), phase(-M_PI, M_PI),
        decades(-3.0, 3.0), logK(std::log(0.1), std::log(300.0));
    RandomMode mode{MultipoleSources(11, sourceCount), std::exp(logK(random))};
    for (int j = 0; j < sourceCount; ++j) {
        std::array<Complex, 4> coefficients;
        for (Complex& a : coefficients)
            a = std::polar(std::pow(10.0, decades(random)), phase(random));
        mode.sources.col(j) = multipoleColumn(
            Eigen::Vector3d(position(random), position(random), position(random)), coefficients);
    }
    return mode;
}

// The program's model of the same modes, laid out as loadTransferModel lays it out.
TransferModel programModel(const std::vector<RandomMode>& modes) {
    TransferModel model;
    model.frequencyCount = static_cast<int>(modes.size());
    for (const RandomMode& mode : modes) {
        const size_t bytes = sizeof(double) * mode.sources.size();
        double* block = static_cast<double*>(std::malloc(bytes > 0 ? bytes : 1));
        std::memcpy(block, mode.sources.data(), bytes);
        model.sourceBlocks.push_back(block);
        model.waveNumbers.push_back(mode.waveNumber);
        model.sourceCounts.push_back(static_cast<int>(mode.sources.cols()));
    }
    return model;
}

void releaseModel(TransferModel& model) {
    for (double* block : model.sourceBlocks) std::free(block);
    model.sourceBlocks.clear();
}

// The size of the terms at x: the sum over sources and orders of |a_m| |basis_m|. Both sums round
// each term to about one unit in its last place, so this is what their difference scales with
// (the sum itself can be smaller, where the terms cancel).
double termScale(const RandomMode& mode, const Eigen::Vector3d& x) {
    double scale = 0;
    for (Eigen::Index j = 0; j < mode.sources.cols(); ++j) {
        const auto s = mode.sources.col(j);
        const std::array<Complex, 4> basis = multipoleBasis(s.head<3>(), mode.waveNumber, x);
        for (int m = 0; m < 4; ++m)
            scale += std::abs(Complex(s[3 + 2 * m], s[4 + 2 * m])) * std::abs(basis[m]);
    }
    return scale;
}

// Every mode of `model` at x, vectorised and literal, against the baker's |sum|.
void expectAgreement(const std::vector<RandomMode>& modes, const TransferModel& model,
                     const Eigen::Vector3d& x, const char* where, bool useAvx2Lanes) {
    const int count = static_cast<int>(modes.size());
    std::vector<double> vectorised(count), literal(count);
    const double position[3] = {x.x(), x.y(), x.z()};
    model.evaluateTransfer(position, vectorised.data(), -1, useAvx2Lanes);
    model.evaluateTransferLiteral(position, literal.data(), -1);
    for (int i = 0; i < count; ++i) {
        const double baker = std::abs(evaluateMultipoles(modes[i].sources, modes[i].waveNumber, x));
        const double tolerance = 1e-12 * termScale(modes[i], x);
        ASSERT_GT(baker, 0.0) << where;
        EXPECT_NEAR(vectorised[i], baker, tolerance)
            << where << ", mode " << i << " at (" << x.transpose()
            << "), k r = " << modes[i].waveNumber * x.norm();
        EXPECT_NEAR(literal[i], baker, tolerance)
            << where << ", mode " << i << " at (" << x.transpose() << ")";
    }
}

// Random directions at distances drawn log-uniformly from `nearest` to `farthest` metres.
Eigen::Vector3d randomPoint(std::mt19937_64& random, double nearest, double farthest) {
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> logR(std::log(nearest), std::log(farthest));
    Eigen::Vector3d direction(normal(random), normal(random), normal(random));
    return std::exp(logR(random)) * direction.normalized();
}

void checkRandomScenes(bool useAvx2Lanes) {
    std::mt19937_64 random(20240611);
    // Source counts around the lane width and the two-pass batch of the vectorised sum.
    const std::vector<int> sourceCounts = {1, 3, 4, 5, 17, 32, 33, 80};
    std::vector<RandomMode> modes;
    for (int n : sourceCounts) modes.push_back(randomMode(random, n));
    TransferModel model = programModel(modes);

    for (int p = 0; p < 200; ++p) {
        // Listener distances of a scene: half a metre to fifty.
        expectAgreement(modes, model, randomPoint(random, 0.5, 50.0), "near", useAvx2Lanes);
    }
    for (int p = 0; p < 50; ++p) {
        // Far away: k r up to about 3e8, beyond the lane sine's range (1e5), where both use the C
        // library's sine and cosine.
        expectAgreement(modes, model, randomPoint(random, 1e3, 1e6), "far", useAvx2Lanes);
    }
    std::uniform_real_distribution<double> height(-5.0, 5.0);
    for (const RandomMode& mode : modes) {
        for (Eigen::Index j = 0; j < mode.sources.cols(); ++j) {
            // On the source's polar axis (the vertical through it), where the azimuth is
            // undefined and both take the limit from beside the axis.
            Eigen::Vector3d x = mode.sources.col(j).head<3>();
            x.z() += height(random);
            expectAgreement(modes, model, x, "on a source's axis", useAvx2Lanes);
        }
    }
    releaseModel(model);
}

}  // namespace

TEST(MultipoleAgreement, ProgramTransferEqualsBakerSumForRandomSources) {
    forEachLaneBuild(checkRandomScenes);
}

// The engine's single-precision transfer (sound/single_precision_transfer.h) against the baker's
// sum for the same random sources at listener distances of half a metre to fifty: within its
// stated bound, (1e-5 + 5e-7 k r) of the size of the terms (the phase k r carries single
// precision's relative error), in both builds of its lanes, which give the same values.
TEST(MultipoleAgreement, SinglePrecisionTransferIsWithinItsBound) {
    std::mt19937_64 random(20261209);
    std::vector<RandomMode> modes;
    for (int n : {1, 7, 8, 9, 20, 33}) modes.push_back(randomMode(random, n));
    TransferModel model = programModel(modes);
    const SinglePrecisionTransfer single(model);
    const int count = static_cast<int>(modes.size());
    double worst = 0;  // the largest error in units of the bound
    for (int p = 0; p < 300; ++p) {
        const Eigen::Vector3d x = randomPoint(random, 0.5, 50.0);
        const double position[3] = {x.x(), x.y(), x.z()};
        std::vector<double> lanes(count), baseline(count);
        single.evaluate(position, lanes.data(), -1, processorHasAvx2());
        single.evaluate(position, baseline.data(), -1, false);
        for (int i = 0; i < count; ++i) {
            const double baker =
                std::abs(evaluateMultipoles(modes[i].sources, modes[i].waveNumber, x));
            const double kr = modes[i].waveNumber * x.norm();
            const double bound = (1e-5 + 5e-7 * kr) * termScale(modes[i], x);
            EXPECT_NEAR(lanes[i], baker, bound) << "mode " << i << ", k r = " << kr;
            EXPECT_EQ(lanes[i], baseline[i]) << "mode " << i;
            worst = std::max(worst, std::abs(lanes[i] - baker) / bound);
        }
    }
    // The bound is not loose by orders of magnitude: the worst error uses a good part of it.
    EXPECT_GT(worst, 0.01);
    releaseModel(model);
}
