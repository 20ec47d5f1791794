// The HRTF set (sound/hrtf_set.h), its transform (sound/fourier_transform.h) and the SOFA reader
// (sound/sofa_file.h): pure delays give e^{-i omega d}, measured directions give the measured
// filter's own spectrum, the weights, and the reader against libmysofa's own view of a file.
#include "sound/hrtf_set.h"

#include <gtest/gtest.h>
#include <mysofa.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

#include "sound/fourier_transform.h"
#include "sound/sofa_file.h"
#include "tests/support/temp_dir.h"

namespace {

using Complex = std::complex<double>;

// The filter's transfer function at frequency f (the DTFT, straight from its definition).
Complex dtft(const float* h, int n, double frequency, double sampleRate) {
    Complex sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double angle = -2.0 * M_PI * frequency * i / sampleRate;
        sum += static_cast<double>(h[i]) * Complex(std::cos(angle), std::sin(angle));
    }
    return sum;
}

// Six directions: the axes of the head frame.
const std::vector<double> kAxes = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};

TEST(FourierTransform, AgreesWithTheDefiningSumAtEveryBin) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> x(37);
    for (float& v : x) v = noise(random);
    std::vector<Complex> spectrum;
    realSequenceSpectrum(x.data(), 37, 128, &spectrum);
    ASSERT_EQ(spectrum.size(), 65u);
    for (int k = 0; k <= 64; ++k) {
        // Bin k of a 128-point transform is the DTFT at k / 128 of the sample rate.
        const Complex expected = dtft(x.data(), 37, k, 128.0);
        EXPECT_NEAR(std::abs(spectrum[k] - expected), 0.0, 1e-12 * 37) << "bin " << k;
    }
}

TEST(HrtfSet, PureDelayFiltersGiveTheirDelayAtEveryFrequencyAndDirection) {
    // Every direction delays the left ear by 23 samples and the right one by 9, at 48 kHz.
    const int n = 64;
    const double rate = 48000.0;
    std::vector<float> responses(6 * 2 * n, 0.0f);
    for (int m = 0; m < 6; ++m) {
        responses[(2 * m + 0) * n + 23] = 1.0f;
        responses[(2 * m + 1) * n + 9] = 1.0f;
    }
    const HrtfSet set("delays", rate, 6, kAxes.data(), n, responses.data(), nullptr);
    const double directions[3][3] = {{1, 0, 0}, {0.3, -0.8, 0.52}, {-0.1, 0.2, -0.9}};
    for (const auto& direction : directions) {
        HrtfDirectionWeights weights;
        set.weigh(direction, &weights);
        for (double f : {0.0, 117.0, 1000.0, 4321.5, 15000.0, 23999.0}) {
            const double omega = 2.0 * M_PI * f;
            for (int ear = 0; ear < 2; ++ear) {
                const double d = (ear == 0 ? 23.0 : 9.0) / rate;
                const Complex expected(std::cos(omega * d), -std::sin(omega * d));
                EXPECT_NEAR(std::abs(set.gain(weights, ear, f) - expected), 0.0, 1e-6)
                    << "ear " << ear << " at " << f << " Hz";
            }
        }
    }
}

TEST(HrtfSet, FilesOwnDelaysAddToTheFilters) {
    const int n = 16;
    std::vector<float> responses(6 * 2 * n, 0.0f);
    std::vector<double> delays(12);
    for (int m = 0; m < 6; ++m) {
        responses[(2 * m) * n + 3] = responses[(2 * m + 1) * n + 3] = 0.5f;
        delays[2 * m] = 4.0;
        delays[2 * m + 1] = 0.0;
    }
    const HrtfSet set("delays", 44100.0, 6, kAxes.data(), n, responses.data(), delays.data());
    HrtfDirectionWeights weights;
    const double ahead[3] = {1, 0, 0};
    set.weigh(ahead, &weights);
    const double f = 3000.0, omega = 2.0 * M_PI * f;
    EXPECT_NEAR(std::abs(set.gain(weights, 0, f) - 0.5 * std::polar(1.0, -omega * 7 / 44100.0)),
                0.0, 1e-6);
    EXPECT_NEAR(std::abs(set.gain(weights, 1, f) - 0.5 * std::polar(1.0, -omega * 3 / 44100.0)),
                0.0, 1e-6);
}

// Filters like measured ones: an onset a few samples in, then a decaying random ring.
std::vector<float> ringingFilters(int directions, int n, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> responses(static_cast<size_t>(directions) * 2 * n, 0.0f);
    for (int filter = 0; filter < 2 * directions; ++filter) {
        const int onset = 5 + filter % 11;
        for (int i = onset; i < n; ++i) {
            responses[static_cast<size_t>(filter) * n + i] =
                noise(random) * static_cast<float>(std::exp(-(i - onset) / 6.0));
        }
    }
    return responses;
}

TEST(HrtfSet, AMeasuredDirectionReturnsItsOwnFilterSpectrum) {
    const int n = 128;
    const double rate = 44100.0;
    const std::vector<float> responses = ringingFilters(6, n, 11);
    const HrtfSet set("ringing", rate, 6, kAxes.data(), n, responses.data(), nullptr);
    for (int m = 0; m < 6; ++m) {
        HrtfDirectionWeights weights;
        set.weigh(&kAxes[3 * m], &weights);
        ASSERT_EQ(weights.count, 1);
        EXPECT_EQ(weights.index[0], m);
        for (int ear = 0; ear < 2; ++ear) {
            const float* h = &responses[(2 * m + ear) * n];
            double peak = 0.0;
            for (int k = 0; k < 64; ++k)
                peak = std::max(peak, std::abs(dtft(h, n, k * rate / 128, rate)));
            // At the padded transform's bins (rate / 1024 apart) the interpolation is exact; in
            // between, within the chord's error.
            for (double f : {0.0, 43.06640625, 5512.5, 11025.0, 464 * rate / 1024}) {
                EXPECT_NEAR(std::abs(set.gain(weights, ear, f) - dtft(h, n, f, rate)), 0.0,
                            2e-6 * peak)
                    << "direction " << m << " ear " << ear << " at " << f << " Hz";
            }
            for (double f : {313.0, 2718.3, 9999.9, 17171.7}) {
                EXPECT_NEAR(std::abs(set.gain(weights, ear, f) - dtft(h, n, f, rate)), 0.0,
                            2e-3 * peak)
                    << "direction " << m << " ear " << ear << " at " << f << " Hz";
            }
        }
    }
}

TEST(HrtfSet, NearestDirectionsWeighInverselyToTheirAngle) {
    const std::vector<float> responses = ringingFilters(6, 32, 3);
    const HrtfSet set("ringing", 44100.0, 6, kAxes.data(), 32, responses.data(), nullptr);
    // 20 degrees from +x towards +y: +x at 20 degrees, +y at 70, and +z or -z at 90.
    const double a = 20.0 * M_PI / 180.0;
    const double direction[3] = {std::cos(a), std::sin(a), 0.0};
    HrtfDirectionWeights weights;
    set.weigh(direction, &weights);
    ASSERT_EQ(weights.count, 3);
    EXPECT_EQ(weights.index[0], 0);
    EXPECT_EQ(weights.index[1], 2);
    const double sum = 1 / 20.0 + 1 / 70.0 + 1 / 90.0;
    EXPECT_NEAR(weights.weight[0], (1 / 20.0) / sum, 1e-12);
    EXPECT_NEAR(weights.weight[1], (1 / 70.0) / sum, 1e-12);
    EXPECT_NEAR(weights.weight[2], (1 / 90.0) / sum, 1e-12);
    // The delay lies between the neighbours' onsets, weighted alike.
    HrtfDirectionWeights alone;
    double expected = 0.0;
    for (int j = 0; j < 3; ++j) {
        set.weigh(&kAxes[3 * weights.index[j]], &alone);
        expected += weights.weight[j] * set.delay(alone, 0);
    }
    EXPECT_NEAR(set.delay(weights, 0), expected, 1e-15);
}

// [SECTION] The SOFA reader

TEST(SofaFile, BadFilesGetOneMessageNamingThem) {
    TempDir dir;
    std::string problem;
    const std::string missing = dir.file("missing.sofa");
    EXPECT_EQ(readSofaFile(missing, &problem), nullptr);
    EXPECT_EQ(problem.rfind(missing + ": ", 0), 0u) << problem;
    EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;

    const std::string text = dir.file("text.sofa");
    FILE* file = fopen(text.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("not an HDF5 file at all\n", file);
    fclose(file);
    problem.clear();
    EXPECT_EQ(readSofaFile(text, &problem), nullptr);
    EXPECT_EQ(problem.rfind(text + ": not a SOFA file", 0), 0u) << problem;

    const std::string empty = dir.file("empty.sofa");
    fclose(fopen(empty.c_str(), "w"));
    problem.clear();
    EXPECT_EQ(readSofaFile(empty, &problem), nullptr);
    EXPECT_EQ(problem.rfind(empty + ": ", 0), 0u) << problem;

    problem.clear();
    EXPECT_EQ(readSofaFile(dir.path(), &problem), nullptr);
    EXPECT_EQ(problem.rfind(dir.path() + ": ", 0), 0u) << problem;
}

TEST(SofaFile, DefaultSetMatchesLibmysofasOwnFilters) {
    FILE* probe = fopen(kDefaultHrtfFile, "rb");
    if (probe == nullptr) GTEST_SKIP() << kDefaultHrtfFile << " is not installed (libmysofa1)";
    fclose(probe);
    std::string problem;
    std::unique_ptr<HrtfSet> set = readSofaFile(kDefaultHrtfFile, &problem);
    ASSERT_NE(set, nullptr) << problem;

    // libmysofa's own view of the file: positions made cartesian, filters as stored.
    int error = 0;
    MYSOFA_HRTF* hrtf = mysofa_load(kDefaultHrtfFile, &error);
    ASSERT_NE(hrtf, nullptr);
    mysofa_tocartesian(hrtf);
    ASSERT_EQ(set->directionCount(), static_cast<int>(hrtf->M));
    const int n = static_cast<int>(hrtf->N);
    const double rate = hrtf->DataSamplingRate.values[0];
    // The left ear is the receiver at positive y.
    const int left = hrtf->ReceiverPosition.values[1] > 0 ? 0 : 1;
    for (int m : {0, 100, 355, 709}) {
        const float* p = &hrtf->SourcePosition.values[3 * m];
        HrtfDirectionWeights weights;
        const double direction[3] = {p[0], p[1], p[2]};
        set->weigh(direction, &weights);
        ASSERT_EQ(weights.count, 1);
        for (int ear = 0; ear < 2; ++ear) {
            const int receiver = ear == 0 ? left : 1 - left;
            const float* h = &hrtf->DataIR.values[(static_cast<size_t>(m) * 2 + receiver) * n];
            double peak = 0.0;
            for (int k = 0; k < 64; ++k) {
                peak = std::max(peak, std::abs(dtft(h, n, k * rate / 128, rate)));
            }
            for (double f : {250.0, 1000.0, 4000.0, 9000.0}) {
                const Complex expected = dtft(h, n, f, rate);
                // The eightfold padding's chord between bins: measured within 0.3 % of the
                // filter's peak response here.
                EXPECT_NEAR(std::abs(set->gain(weights, ear, f) - expected), 0.0, 5e-3 * peak)
                    << "measurement " << m << " ear " << ear << " at " << f << " Hz";
            }
        }
    }
    // From the side the near ear is the louder one and hears first.
    HrtfDirectionWeights side;
    const double toTheLeft[3] = {0, 1, 0};
    set->weigh(toTheLeft, &side);
    EXPECT_GT(std::abs(set->gain(side, 0, 3000.0)), 2.0 * std::abs(set->gain(side, 1, 3000.0)));
    EXPECT_GT(set->delay(side, 1) - set->delay(side, 0), 4e-4);
    mysofa_free(hrtf);
}

}  // namespace
