// The transfer model: its files (list, ".sources", ".k") with every refusal, and the multipole
// evaluation against the closed forms of monopoles and dipoles, its invariances, and finite values
// where the field's formula is undefined.
#include "sound/transfer_model.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "sound/vector_lanes.h"
#include "tests/sound/lane_builds.h"
#include "tests/support/temp_dir.h"

namespace {

// One source record: position, then a0 .. a3.
struct Source {
    double x, y, z;
    std::complex<double> a0, a1, a2, a3;
};

std::vector<double> sourceElements(const std::vector<Source>& sources) {
    std::vector<double> e;
    for (const Source& s : sources) {
        e.insert(e.end(), {s.x, s.y, s.z, s.a0.real(), s.a0.imag(), s.a1.real(), s.a1.imag(),
                           s.a2.real(), s.a2.imag(), s.a3.real(), s.a3.imag()});
    }
    return e;
}

// A model held in memory, as loading would build it.
TransferModel modelOf(const std::vector<std::vector<Source>>& entries,
                      const std::vector<double>& waveNumbers) {
    TransferModel m;
    for (size_t j = 0; j < entries.size(); ++j) {
        const std::vector<double> e = sourceElements(entries[j]);
        double* block = static_cast<double*>(malloc(sizeof(double) * (e.size() + 1)));
        std::copy(e.begin(), e.end(), block);
        m.sourceBlocks.push_back(block);
        m.sourceCounts.push_back(static_cast<int>(entries[j].size()));
        m.waveNumbers.push_back(waveNumbers[j]);
    }
    m.frequencyCount = static_cast<int>(entries.size());
    return m;
}

void release(TransferModel& m) {
    for (double* block : m.sourceBlocks) free(block);
    m.sourceBlocks.clear();
}

double transferAt(const TransferModel& m, double x, double y, double z, int entry = 0,
                  bool useAvx2Lanes = processorHasAvx2()) {
    std::vector<double> out(m.frequencyCount, -1.0);
    const double p[3] = {x, y, z};
    m.evaluateTransfer(p, out.data(), -1, useAvx2Lanes);
    return out[entry];
}

// |h1(x)| for the outgoing Hankel function of order 1: sqrt(1 + x^2) / x^2.
double h1Magnitude(double x) { return std::sqrt(1.0 + x * x) / (x * x); }

struct Loaded {
    TransferModel model;
    std::string output;
};

Loaded load(const std::string& listFile) {
    Loaded r;
    testing::internal::CaptureStdout();
    r.model = loadTransferModel(listFile.c_str());
    fflush(stdout);
    r.output = testing::internal::GetCapturedStdout();
    return r;
}

// In a death test's child, sends standard output to standard error, which the test matches.
void loadWithStdoutOnStderr(const std::string& listFile) {
    fflush(stdout);
    dup2(2, 1);
    loadTransferModel(listFile.c_str());
}

// A scene folder "modes/" with two modes: m0 with two sources, m1 with one.
void writeTwoModes(const TempDir& dir) {
    const Source a{0.1, 0.2, 0.3, {1, 2}, {3, 4}, {5, 6}, {7, 8}};
    const Source b{-1, -2, -3, {0.5, 0}, {0, 0}, {0, 0}, {0, 0}};
    dir.write("modes/m0.sources", denseMatrixBytes(11, 2, sourceElements({a, b})));
    dir.write("modes/m0.k", denseMatrixBytes(1, 1, {18.3}));
    dir.write("modes/m1.sources", denseMatrixBytes(11, 1, sourceElements({b})));
    dir.write("modes/m1.k", denseMatrixBytes(1, 1, {36.6}));
}

}  // namespace

// [SECTION] Loading

TEST(TransferModelLoading, ReadsEveryEntryInListOrder) {
    TempDir dir;
    writeTwoModes(dir);
    const std::string list = dir.write("list.txt", "modes/m0\nmodes/m1\n");
    ScopedWorkingDirectory cwd(dir.path());
    Loaded r = load("list.txt");
    EXPECT_EQ(r.output, "Num frequencies: 2 . Total num sources: 3\n");
    ASSERT_EQ(r.model.frequencyCount, 2);
    EXPECT_EQ(r.model.sourceCounts, (std::vector<int>{2, 1}));
    EXPECT_EQ(r.model.waveNumbers, (std::vector<double>{18.3, 36.6}));
    // Column-major: the 11 values of one source lie next to each other.
    EXPECT_EQ(r.model.sourceBlocks[0][3], 1.0);
    EXPECT_EQ(r.model.sourceBlocks[0][10], 8.0);
    EXPECT_EQ(r.model.sourceBlocks[0][11], -1.0);
    EXPECT_EQ(r.model.sourceBlocks[0][14], 0.5);
    EXPECT_EQ(r.model.sourceBlocks[1][3], 0.5);
    release(r.model);
}

TEST(TransferModelLoading, CarriageReturnLineFeedIsOneLineFeed) {
    TempDir dir;
    writeTwoModes(dir);
    ScopedWorkingDirectory cwd(dir.path());
    Loaded r = load(dir.write("list.txt", "modes/m0\r\nmodes/m1\r\n"));
    EXPECT_EQ(r.model.frequencyCount, 2);
    release(r.model);
}

// The last character of every line is dropped, so a last line without its line feed names a
// prefix one character short ("modes/m1x" -> "modes/m1").
TEST(TransferModelLoading, LastLineLosesItsLastCharacterWithoutLineFeed) {
    TempDir dir;
    writeTwoModes(dir);
    ScopedWorkingDirectory cwd(dir.path());
    Loaded r = load(dir.write("list.txt", "modes/m0\nmodes/m1x"));
    EXPECT_EQ(r.model.frequencyCount, 2);
    EXPECT_EQ(r.model.waveNumbers[1], 36.6);
    release(r.model);
}

TEST(TransferModelLoading, EmptyListGivesNoEntries) {
    TempDir dir;
    Loaded r = load(dir.write("list.txt", ""));
    EXPECT_EQ(r.model.frequencyCount, 0);
    EXPECT_EQ(r.output, "Num frequencies: 0 . Total num sources: 0\n");
}

TEST(TransferModelLoadingDeathTest, RefusesBrokenListsAndFiles) {
    TempDir dir;
    writeTwoModes(dir);
    dir.write("bad/rows.sources", denseMatrixBytes(10, 1, std::vector<double>(10, 0.0)));
    dir.write("bad/rows.k", denseMatrixBytes(1, 1, {1.0}));
    dir.write("bad/krows.sources", denseMatrixBytes(11, 0, {}));
    dir.write("bad/krows.k", denseMatrixBytes(2, 1, {1.0, 2.0}));
    dir.write("bad/kcols.sources", denseMatrixBytes(11, 0, {}));
    dir.write("bad/kcols.k", denseMatrixBytes(1, 2, {1.0, 2.0}));
    dir.write("bad/short.sources", denseMatrixBytes(11, 2, std::vector<double>(21, 0.0)));
    dir.write("bad/short.k", denseMatrixBytes(1, 1, {1.0}));
    ScopedWorkingDirectory cwd(dir.path());
    EXPECT_EXIT(loadWithStdoutOnStderr("missing.txt"), testing::ExitedWithCode(1),
                "^Error: could not open file missing.txt.\n$");
    // An empty line names the file ".sources".
    dir.write("empty-line.txt", "modes/m0\n\nmodes/m1\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("empty-line.txt"), testing::ExitedWithCode(1),
                "^Can't open input matrix file: .sources.\n$");
    dir.write("missing-k.txt", "modes/m0\nmodes/none\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("missing-k.txt"), testing::ExitedWithCode(1),
                "^Can't open input matrix file: modes/none.sources.\n$");
    dir.write("rows.txt", "bad/rows\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("rows.txt"), testing::ExitedWithCode(1),
                "^Error: assertion 10 == 11 failed \\(1\\).\n$");
    dir.write("krows.txt", "bad/krows\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("krows.txt"), testing::ExitedWithCode(1),
                "^Error: assertion 2 == 1 failed \\(2\\).\n$");
    dir.write("kcols.txt", "bad/kcols\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("kcols.txt"), testing::ExitedWithCode(1),
                "^Error: assertion 2 == 1 failed \\(3\\).\n$");
    dir.write("short.txt", "bad/short\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("short.txt"), testing::ExitedWithCode(1),
                "^Error reading the matrix from disk file: bad/short.sources.\n$");
    dir.write("long.txt", "modes/m0\n" + std::string(4090, 'a') + "\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("long.txt"), testing::ExitedWithCode(1),
                "^Error: line 2 of long.txt names a file longer than 4095 characters.\n$");
    dir.write("longer.txt", std::string(5000, 'a') + "\n");
    EXPECT_EXIT(loadWithStdoutOnStderr("longer.txt"), testing::ExitedWithCode(1),
                "^Error: line 1 of longer.txt names a file longer than 4095 characters.\n$");
}

// [SECTION] Evaluation

TEST(TransferModelEvaluation, NoSourcesGiveZero) {
    TransferModel m = modelOf({{}}, {10.0});
    EXPECT_EQ(transferAt(m, 1, 2, 3), 0.0);
    release(m);
}

// h0(x) = i e^{-ix} / x: a monopole of coefficient a0 gives |a0| / (k r).
TEST(TransferModelEvaluation, MonopoleFallsAsOneOverKr) {
    const std::complex<double> a0(0.6, -0.8);
    TransferModel m = modelOf({{{0.1, -0.2, 0.3, a0, 0, 0, 0}}}, {7.5});
    for (double r : {0.01, 0.5, 3.0, 200.0}) {
        const double d = r / std::sqrt(3.0);
        EXPECT_NEAR(transferAt(m, 0.1 + d, -0.2 - d, 0.3 + d), 1.0 / (7.5 * r), 1e-12 / (7.5 * r));
    }
    release(m);
}

// The phase convention: two unit monopoles at distances r1 and r2 sum to
// |e^{-i k r1} / (k r1) + e^{-i k r2} / (k r2)|, the outgoing waves of e^{+i omega t}.
TEST(TransferModelEvaluation, MonopolesInterfereWithOutgoingPhase) {
    const double k = 4.0;
    TransferModel m = modelOf({{{0.5, 0, 0, 1, 0, 0, 0}, {-0.5, 0, 0, 1, 0, 0, 0}}}, {k});
    for (double x : {2.0, 2.3, 3.1, 7.0}) {
        const double r1 = x - 0.5, r2 = x + 0.5;
        const std::complex<double> i(0, 1);
        const double expected =
            std::abs(std::exp(-i * k * r1) / (k * r1) + std::exp(-i * k * r2) / (k * r2));
        EXPECT_NEAR(transferAt(m, x, 0, 0), expected, 1e-12);
    }
    // Equidistant from both: the waves arrive in phase.
    EXPECT_NEAR(transferAt(m, 0, 3, 4), 2.0 / (k * std::sqrt(25.25)), 1e-12);
    release(m);
}

// The complex pressure itself: a monopole a0 h0(k r) = a0 i e^{-i k r} / (k r) and a z dipole
// a1 h1(k r) cos(theta), with h1(x) = (i / x^2 - 1 / x) e^{-i x}, both with their phase; and
// its magnitude sqrt(re^2 + im^2) is the literal evaluation's, bit for bit, for every entry.
TEST(TransferModelEvaluation, PressureCarriesTheOutgoingPhase) {
    const std::complex<double> i(0, 1), a0(0.6, -0.8), a1(-0.3, 0.2);
    const double k = 3.0;
    TransferModel m = modelOf({{{0.1, -0.2, 0.3, a0, 0, 0, 0}}, {{0, 0, 0, 0, a1, 0, 0}}}, {k, k});
    for (const auto& p :
         std::vector<std::vector<double>>{{1.1, 0.5, -0.2}, {0.0, 0.0, 2.5}, {-3.0, 4.0, 1.0}}) {
        std::complex<double> pressure[2];
        m.evaluateTransferPressure(p.data(), reinterpret_cast<double*>(pressure), -1);
        const double r0 = std::sqrt((p[0] - 0.1) * (p[0] - 0.1) + (p[1] + 0.2) * (p[1] + 0.2) +
                                    (p[2] - 0.3) * (p[2] - 0.3));
        const std::complex<double> monopole = a0 * i * std::exp(-i * (k * r0)) / (k * r0);
        const double r1 = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        const double x = k * r1;
        const std::complex<double> dipole =
            a1 * (i / (x * x) - 1.0 / x) * std::exp(-i * x) * (p[2] / r1);
        EXPECT_NEAR(std::abs(pressure[0] - monopole), 0.0, 1e-13);
        EXPECT_NEAR(std::abs(pressure[1] - dipole), 0.0, 1e-13);
        double literal[2];
        m.evaluateTransferLiteral(p.data(), literal, -1);
        for (int e = 0; e < 2; ++e) {
            const double re = pressure[e].real(), im = pressure[e].imag();
            EXPECT_EQ(std::sqrt(re * re + im * im), literal[e]) << "entry " << e;
        }
    }
    release(m);
}

// The sum of monopoles against its closed form (see the test below).
static void checkMonopoleSums(bool useAvx2Lanes) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const std::complex<double> i(0, 1);
    for (double k : {0.5, 40.0, 3e4, 2e5}) {
        for (int n = 1; n <= 9; ++n) {
            std::vector<Source> sources;
            std::complex<double> expected = 0.0;
            const double p[3] = {0.9, -0.4, 1.3};
            for (int j = 0; j < n; ++j) {
                const Source s{0.2 * u(random),
                               0.2 * u(random),
                               0.2 * u(random),
                               {u(random), u(random)},
                               0,
                               0,
                               0};
                sources.push_back(s);
                const double r =
                    std::sqrt((p[0] - s.x) * (p[0] - s.x) + (p[1] - s.y) * (p[1] - s.y) +
                              (p[2] - s.z) * (p[2] - s.z));
                expected += s.a0 * i * std::exp(-i * (k * r)) / (k * r);
            }
            TransferModel m = modelOf({sources}, {k});
            // The phase k r of a far wave is known to about k r * 1e-16.
            EXPECT_NEAR(transferAt(m, p[0], p[1], p[2], 0, useAvx2Lanes), std::abs(expected),
                        1e-13 * std::max(1.0, k) / k)
                << "k " << k << ", " << n << " sources";
            release(m);
        }
    }
}

// Any number of sources (the evaluation takes them four at a time), at wave numbers up to and
// beyond the range of the lane sine: the sum of the monopoles' outgoing waves
// i e^{-i k r} / (k r) with complex coefficients. Both builds of the lane loop.
TEST(TransferModelEvaluation, SumsAnyNumberOfSourcesWithTheirPhases) {
    forEachLaneBuild(checkMonopoleSums);
}

// Order 1: a1 gives |h1(kr)| |cos(theta)|, a2 alone |h1| sin(theta), and a2 = a3 = 1 together
// h1 sin(theta) (e^{-i phi} - e^{+i phi}) = -2i sin(phi) sin(theta) h1.
TEST(TransferModelEvaluation, DipoleTermsFollowTheirAngularFactors) {
    const double k = 3.0;
    TransferModel m =
        modelOf({{{0, 0, 0, 0, 1, 0, 0}}, {{0, 0, 0, 0, 0, {0, 1}, 0}}, {{0, 0, 0, 0, 0, 1, 1}}},
                {k, k, k});
    const double r = 1.7;
    for (double theta : {0.0, 0.3, 1.2, M_PI / 2, 2.5}) {
        for (double phi : {0.0, 0.7, 2.0, -1.3}) {
            const double x = r * std::sin(theta) * std::cos(phi);
            const double y = r * std::sin(theta) * std::sin(phi);
            const double z = r * std::cos(theta);
            const double h1 = h1Magnitude(k * r);
            EXPECT_NEAR(transferAt(m, x, y, z, 0), h1 * std::fabs(std::cos(theta)), 1e-12);
            EXPECT_NEAR(transferAt(m, x, y, z, 1), h1 * std::sin(theta), 1e-12);
            EXPECT_NEAR(transferAt(m, x, y, z, 2),
                        2.0 * h1 * std::sin(theta) * std::fabs(std::sin(phi)), 1e-12);
        }
    }
    // Level with an a1 source (dz = 0): nothing.
    EXPECT_EQ(transferAt(m, 1.0, 0.4, 0.0, 0), 0.0);
    release(m);
}

// The field depends on k r and the angles only: scaling every length by s and k by 1/s leaves
// it unchanged, at 1e-8 and 1e8 as well; so does reversing every coefficient's sign.
TEST(TransferModelEvaluation, InvariantUnderScalingAndSignReversal) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<Source> sources;
    for (int j = 0; j < 6; ++j) {
        sources.push_back({0.1 * u(random),
                           0.1 * u(random),
                           0.1 * u(random),
                           {u(random), u(random)},
                           {u(random), u(random)},
                           {u(random), u(random)},
                           {u(random), u(random)}});
    }
    const double k = 12.0, p[3] = {0.4, -0.3, 0.25};
    TransferModel m = modelOf({sources}, {k});
    const double reference = transferAt(m, p[0], p[1], p[2]);
    EXPECT_GT(reference, 0.0);
    for (double s : {1e-8, 1e8}) {
        std::vector<Source> scaled = sources;
        for (Source& src : scaled) {
            src.x *= s;
            src.y *= s;
            src.z *= s;
        }
        TransferModel ms = modelOf({scaled}, {k / s});
        EXPECT_NEAR(transferAt(ms, p[0] * s, p[1] * s, p[2] * s), reference, 1e-10 * reference);
        release(ms);
    }
    std::vector<Source> negated = sources;
    for (Source& src : negated) {
        src.a0 = -src.a0;
        src.a1 = -src.a1;
        src.a2 = -src.a2;
        src.a3 = -src.a3;
    }
    TransferModel mn = modelOf({negated}, {k});
    EXPECT_NEAR(transferAt(mn, p[0], p[1], p[2]), reference, 1e-14 * reference);
    release(mn);
    release(m);
}

TEST(TransferModelEvaluation, CountSelectsTheEntriesWritten) {
    std::vector<std::vector<Source>> entries;
    std::vector<double> k;
    for (int j = 0; j < 5; ++j) {
        entries.push_back({{0, 0, 0, 1, 0, 0, 0}});
        k.push_back(1.0 + j);
    }
    TransferModel m = modelOf(entries, k);
    const double p[3] = {0, 0, 2};
    std::vector<double> out(6, -1.0);
    m.evaluateTransfer(p, out.data(), 3, processorHasAvx2());
    const std::vector<double> expected = {0.5, 0.25, 1.0 / 6.0, -1.0, -1.0, -1.0};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], expected[i], 1e-15) << i;
    m.evaluateTransfer(p, out.data(), -1, processorHasAvx2());
    EXPECT_NEAR(out[4], 0.1, 1e-15);
    EXPECT_EQ(out[5], -1.0);
    release(m);
}

// Where the formula divides by zero the result stays finite: a source at the listener adds
// nothing; on a source's vertical axis the value is the limit from beside the axis; overflow next
// to a source, a wave number of 0 and non-finite coefficients give 0.
TEST(TransferModelEvaluation, UndefinedPointsGiveFiniteValues) {
    const Source elsewhere{1, 0, 0, 1, 0, 0, 0};
    const Source here{0, 0, 0, {0.3, 1}, {2, 0.5}, {1, -1}, {0.2, 0.1}};
    const double k = 2.0;
    TransferModel m = modelOf({{elsewhere, here}, {here}}, {k, k});
    EXPECT_NEAR(transferAt(m, 0, 0, 0, 0), 1.0 / k, 1e-15);
    EXPECT_EQ(transferAt(m, 0, 0, 0, 1), 0.0);

    for (double z : {0.8, -0.5}) {
        const double onAxis = transferAt(m, 0, 0, z, 1);
        const double beside = transferAt(m, 1e-9, 1e-9, z, 1);
        EXPECT_TRUE(std::isfinite(onAxis));
        EXPECT_NEAR(onAxis, beside, 1e-7 * beside);
    }
    EXPECT_EQ(transferAt(m, 0, 0, 1e-200, 1), 0.0);  // |h1| ~ 1/x^2 overflows

    TransferModel still = modelOf({{here}}, {0.0});
    EXPECT_EQ(transferAt(still, 0.3, 0.2, 0.1), 0.0);
    const Source broken{0, 0, 0, {std::nan(""), 0}, 0, 0, 0};
    TransferModel bad = modelOf({{broken}}, {1.0});
    EXPECT_EQ(transferAt(bad, 0.3, 0.2, 0.1), 0.0);
    release(m);
    release(still);
    release(bad);
}

// [SECTION] The vectorised evaluation against the literal sum

namespace {

// Sum over the sources of |a0| |h0(k r)| + (|a1| + |a2| + |a3|) |h1(k r)|: the size of the terms
// that the transfer adds up, the scale of its rounding where they cancel.
double termScale(const std::vector<Source>& sources, double k, const double p[3]) {
    double scale = 0.0;
    for (const Source& s : sources) {
        const double r = std::sqrt((p[0] - s.x) * (p[0] - s.x) + (p[1] - s.y) * (p[1] - s.y) +
                                   (p[2] - s.z) * (p[2] - s.z));
        if (r == 0.0) continue;
        const double x = k * r;
        scale += std::abs(s.a0) / x +
                 (std::abs(s.a1) + std::abs(s.a2) + std::abs(s.a3)) * h1Magnitude(x);
    }
    return scale;
}

struct Disagreement {
    double relative = 0.0;  // worst |fast - literal| / |literal|
    double ofScale = 0.0;   // worst |fast - literal| / termScale
    int compared = 0;
};

// Evaluates `model` at `p` both ways, in both builds of the lane loop, and records the worst
// disagreement; every value must be finite.
void compareAt(const TransferModel& model, const std::vector<std::vector<Source>>& entries,
               const double p[3], Disagreement* d) {
    std::vector<double> literal(model.frequencyCount), fast(model.frequencyCount);
    model.evaluateTransferLiteral(p, literal.data(), -1);
    for (bool avx2 : {processorHasAvx2(), false}) {
        model.evaluateTransfer(p, fast.data(), -1, avx2);
        for (int i = 0; i < model.frequencyCount; ++i) {
            ASSERT_TRUE(std::isfinite(fast[i]) && std::isfinite(literal[i])) << i;
            const double difference = std::fabs(fast[i] - literal[i]);
            const double scale = termScale(entries[i], model.waveNumbers[i], p);
            if (literal[i] > 0.0) {
                d->relative = std::max(d->relative, difference / literal[i]);
            } else {
                EXPECT_EQ(fast[i], 0.0) << i;
            }
            if (scale > 0.0) d->ofScale = std::max(d->ofScale, difference / scale);
            ++d->compared;
        }
    }
}

// `count` entries of 0 .. 83 sources each (every remainder of the lane groups, several passes of
// the geometry), random positions within 0.2 of the origin and coefficients with random sizes, at
// wave numbers from 0.5 to 400 (20 Hz to 20 kHz in metres).
TransferModel randomModel(std::mt19937& random, int count,
                          std::vector<std::vector<Source>>* entries) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> waveNumbers;
    entries->clear();
    for (int j = 0; j < count; ++j) {
        const int n = j % 84;
        std::vector<Source> sources;
        for (int s = 0; s < n; ++s) {
            const double size = std::pow(10.0, 2.0 * u(random));
            sources.push_back({0.2 * u(random),
                               0.2 * u(random),
                               0.2 * u(random),
                               {size * u(random), size * u(random)},
                               {size * u(random), size * u(random)},
                               {size * u(random), size * u(random)},
                               {size * u(random), size * u(random)}});
        }
        entries->push_back(sources);
        waveNumbers.push_back(0.5 * std::pow(800.0, 0.5 * (u(random) + 1.0)));
    }
    return modelOf(*entries, waveNumbers);
}

}  // namespace

// The vectorised sum (rearranged algebra, lane sine and cosine, both builds) against the plain
// per-source sum over many random models and listener points: ordinary points, points on and
// next to a source's vertical axis and exactly at a source, points very near a source, and far
// points (k r up to 2e4, and beyond 1e5 where the library's sine takes over). The values agree to
// 1e-12 of themselves, and to a few units in the last place of the terms' sizes.
TEST(TransferModelEvaluation, VectorisedSumAgreesWithTheLiteralSum) {
    std::mt19937 random(29);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<std::vector<Source>> entries;
    TransferModel m = randomModel(random, 168, &entries);
    Disagreement ordinary, axis, near, far;
    for (int t = 0; t < 20; ++t) {
        const double radius = 0.3 + 2.7 * (0.5 * (u(random) + 1.0));
        double p[3] = {u(random), u(random), u(random)};
        const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        for (double& c : p) c *= radius / length;
        compareAt(m, entries, p, &ordinary);
    }
    // Above and below sources of the entry with 83 sources: on the axis, beside it, and at the
    // source itself.
    const std::vector<Source>& many = entries[83];
    for (int t = 0; t < 16; ++t) {
        const Source& s = many[(7 * t) % many.size()];
        const double offset = t % 3 == 0 ? 0.0 : (t % 3 == 1 ? 1e-12 : 1e-7);
        const double height = t % 4 == 3 ? 0.0 : (t % 2 ? 0.5 : -1.3);
        const double p[3] = {s.x + offset, s.y - offset, s.z + height};
        compareAt(m, entries, p, &axis);
    }
    for (int t = 0; t < 12; ++t) {
        const Source& s = many[(5 * t + 1) % many.size()];
        const double distance = std::pow(10.0, -6.0 + 0.25 * t);
        const double p[3] = {s.x + 0.6 * distance, s.y - 0.8 * distance, s.z};
        compareAt(m, entries, p, &near);
    }
    for (int t = 0; t < 8; ++t) {
        const double reach = t < 6 ? 40.0 : 300.0;
        const double p[3] = {reach * u(random), reach, reach * u(random)};
        compareAt(m, entries, p, &far);
    }
    for (const Disagreement* d : {&ordinary, &axis, &near, &far}) {
        EXPECT_GT(d->compared, 0);
        EXPECT_LE(d->relative, 1e-12);
        EXPECT_LE(d->ofScale, 1e-14);
    }
    release(m);
}
