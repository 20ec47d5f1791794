// The engine's binaural output (Engine::setHrtf, sound/binaural_gains.h), heard at its output:
// with the head turned 90 degrees from the object the ears' level and phase differences at each
// mode are the HRTF file's own (read here with libmysofa and a direct DFT of the measured
// filter); straight ahead the ears differ only as the file's two ears do; a set whose filters
// are pure delays gives the mono output delayed per ear; replacing the set while another thread
// renders is race-free.
#include <gtest/gtest.h>
#include <mysofa.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "sound/sofa_file.h"
#include "tests/support/engine_test_scene.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

using Complex = std::complex<double>;
constexpr int kChair = 1;
constexpr double kRate = 44100.0;

// A chair of the given modes (one order-0 source at the origin each), lightly damped so that
// each mode rings through the analysis window.
EngineObjectFiles ringingChair(const TempDir& dir, const std::vector<double>& frequencies) {
    TestSceneOptions options;
    options.frequencies = frequencies;
    options.sourceStrength = 50.0;
    writeTestScene(dir.path(), kChair, options);
    EngineObjectFiles files = testChairFiles(dir);
    files.massDamping = 1.0;
    files.stiffnessDamping = 1e-10;
    return files;
}

// A head at (0, 0, 1) facing the object at the origin (forward -z, up +y), turned by yawDegrees
// to its left.
ListenerPoints headAt(double yawDegrees) {
    const double a = yawDegrees * M_PI / 180.0;
    ListenerPoints listener = testListenerAt(0.0, 0.0, 1.0);
    // Forward -z turned about +y by a: (-sin a, 0, -cos a); the ears 8 cm to either side.
    const double forward[3] = {-std::sin(a), 0.0, -std::cos(a)};
    const double right[3] = {std::cos(a), 0.0, -std::sin(a)};
    for (int k = 0; k < 3; ++k) {
        listener.forward[k] = forward[k];
        listener.up[k] = k == 1 ? 1.0 : 0.0;
        listener.leftEar[k] = listener.eye[k] - 0.08 * right[k];
        listener.rightEar[k] = listener.eye[k] + 0.08 * right[k];
    }
    return listener;
}

// `seconds` of an engine's output after one strike, interleaved.
std::vector<float> strikeAndRender(Engine& engine, const EngineObjectFiles& files, double seconds) {
    std::string problem;
    const int id = engine.addObject(engine.loadObject(files, &problem));
    EXPECT_GE(id, 0) << problem;
    const double direction[3] = {0.3, -0.8, 0.52};
    EXPECT_TRUE(engine.object(id)->strike(17, direction, 1.0));
    std::vector<float> out(static_cast<size_t>(seconds * kRate) * engine.channelCount());
    engine.render(out.data(), static_cast<long>(out.size() / engine.channelCount()));
    return out;
}

// The complex amplitude of channel `channel` at `frequency` over frames first .. first+count-1:
// the signal projected on e^{-i omega n} through a Hann window.
Complex amplitudeAt(const std::vector<float>& out, int channels, int channel, double frequency,
                    int first, int count) {
    Complex sum = 0.0;
    for (int n = 0; n < count; ++n) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * M_PI * n / count);
        const double angle = -2.0 * M_PI * frequency * (first + n) / kRate;
        sum += window * out[static_cast<size_t>(first + n) * channels + channel] *
               Complex(std::cos(angle), std::sin(angle));
    }
    return sum;
}

// The file's own left / right response ratio at `frequency` for the measurement nearest to
// `direction` (head frame): a direct DFT of libmysofa's stored filters.
Complex fileEarRatio(MYSOFA_HRTF* hrtf, const double direction[3], double frequency) {
    int best = 0;
    double bestDot = -2.0;
    for (unsigned m = 0; m < hrtf->M; ++m) {
        const float* p = &hrtf->SourcePosition.values[3 * m];
        const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        const double dot =
            (p[0] * direction[0] + p[1] * direction[1] + p[2] * direction[2]) / length;
        if (dot > bestDot) {
            bestDot = dot;
            best = static_cast<int>(m);
        }
    }
    const int n = static_cast<int>(hrtf->N);
    const double rate = hrtf->DataSamplingRate.values[0];
    const int left = hrtf->ReceiverPosition.values[1] > 0 ? 0 : 1;
    Complex response[2];
    for (int ear = 0; ear < 2; ++ear) {
        const int receiver = ear == 0 ? left : 1 - left;
        const float* h = &hrtf->DataIR.values[(static_cast<size_t>(best) * 2 + receiver) * n];
        for (int i = 0; i < n; ++i) {
            response[ear] +=
                static_cast<double>(h[i]) * std::polar(1.0, -2.0 * M_PI * frequency * i / rate);
        }
    }
    return response[0] / response[1];
}

double wrapped(double phase) { return std::remainder(phase, 2.0 * M_PI); }

class DefaultSet : public ::testing::Test {
  protected:
    void SetUp() override {
        FILE* probe = fopen(kDefaultHrtfFile, "rb");
        if (probe == nullptr) GTEST_SKIP() << kDefaultHrtfFile << " is not installed (libmysofa1)";
        fclose(probe);
        int error = 0;
        file_ = mysofa_load(kDefaultHrtfFile, &error);
        ASSERT_NE(file_, nullptr);
        mysofa_tocartesian(file_);
    }
    void TearDown() override {
        if (file_ != nullptr) mysofa_free(file_);
    }

    // The ears' level difference (dB, left over right) and phase difference (rad) of the
    // binaural output at each of `frequencies` (one scene of these modes, each read from the
    // output apart: a Hann window of 8192 frames leaves the others over 100 dB down), with the
    // head turned by yawDegrees; and the file's own at the object's direction in the head.
    void measure(double yawDegrees, const std::vector<double>& frequencies,
                 const double directionInHead[3], std::vector<double>* outputLevel_dB,
                 std::vector<double>* outputPhase, std::vector<double>* fileLevel_dB,
                 std::vector<double>* filePhase) {
        TempDir dir;
        Engine engine(2, 200);
        std::string problem;
        std::unique_ptr<HrtfSet> set = readSofaFile(kDefaultHrtfFile, &problem);
        ASSERT_NE(set, nullptr) << problem;
        ASSERT_TRUE(engine.setHrtf(std::move(set)));
        engine.setListener(headAt(yawDegrees));
        const std::vector<float> out = strikeAndRender(engine, ringingChair(dir, frequencies), 0.3);
        for (double f : frequencies) {
            // From the third block on (the first ramps the gains in), 8192 frames.
            const Complex ratio =
                amplitudeAt(out, 2, 0, f, 440, 8192) / amplitudeAt(out, 2, 1, f, 440, 8192);
            const Complex expected = fileEarRatio(file_, directionInHead, f);
            outputLevel_dB->push_back(20.0 * std::log10(std::abs(ratio)));
            outputPhase->push_back(std::arg(ratio));
            fileLevel_dB->push_back(20.0 * std::log10(std::abs(expected)));
            filePhase->push_back(std::arg(expected));
            printf(
                "  %7.1f Hz: ears' level difference %+8.3f dB (file %+8.3f), phase %+7.4f rad "
                "(file %+7.4f)\n",
                f, outputLevel_dB->back(), fileLevel_dB->back(), outputPhase->back(),
                filePhase->back());
        }
    }

    MYSOFA_HRTF* file_ = nullptr;
};

TEST_F(DefaultSet, HeadTurnedFromTheObjectHearsTheFilesInterauralDifferences) {
    // Turned 90 degrees to the left, the object at the origin is on the head's right: (0, -1, 0).
    const double right[3] = {0.0, -1.0, 0.0};
    const std::vector<double> frequencies = {700.0, 2500.0, 6000.0};
    std::vector<double> level, phase, fileLevel, filePhase;
    measure(90.0, frequencies, right, &level, &phase, &fileLevel, &filePhase);
    for (size_t i = 0; i < frequencies.size(); ++i) {
        SCOPED_TRACE(frequencies[i]);
        EXPECT_NEAR(level[i], fileLevel[i], 0.1);
        EXPECT_NEAR(wrapped(phase[i] - filePhase[i]), 0.0, 0.02);
        // The near (right) ear is the louder one.
        EXPECT_LT(level[i], -3.0);
    }
}

TEST_F(DefaultSet, StraightAheadTheEarsAgreeWithinTheFilesOwnAsymmetry) {
    const double ahead[3] = {1.0, 0.0, 0.0};
    const std::vector<double> frequencies = {700.0, 2500.0, 6000.0};
    std::vector<double> level, phase, fileLevel, filePhase;
    measure(0.0, frequencies, ahead, &level, &phase, &fileLevel, &filePhase);
    for (size_t i = 0; i < frequencies.size(); ++i) {
        SCOPED_TRACE(frequencies[i]);
        EXPECT_LE(std::fabs(level[i]), std::fabs(fileLevel[i]) + 0.1);
        EXPECT_LE(std::fabs(wrapped(phase[i])), std::fabs(wrapped(filePhase[i])) + 0.02);
    }
}

// A set of six directions whose filters only delay: the left ear by 12 samples, the right by
// 30, whatever the direction.
std::unique_ptr<HrtfSet> pureDelaySet() {
    const std::vector<double> axes = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};
    const int n = 64;
    std::vector<float> responses(6 * 2 * n, 0.0f);
    for (int m = 0; m < 6; ++m) {
        responses[(2 * m) * n + 12] = 1.0f;
        responses[(2 * m + 1) * n + 30] = 1.0f;
    }
    return std::unique_ptr<HrtfSet>(
        new HrtfSet("delays", kRate, 6, axes.data(), n, responses.data(), nullptr));
}

TEST(EngineBinaural, PureDelaySetGivesTheMonoOutputDelayedPerEar) {
    TempDir dir;
    const EngineObjectFiles files = ringingChair(dir, {310.0, 870.0, 2050.0, 5200.0});
    Engine mono(1, 200), binaural(2, 200);
    ASSERT_TRUE(binaural.setHrtf(pureDelaySet()));
    mono.setListener(headAt(30.0));
    binaural.setListener(headAt(30.0));
    const std::vector<float> m = strikeAndRender(mono, files, 0.5);
    const std::vector<float> b = strikeAndRender(binaural, files, 0.5);
    double peak = 0.0;
    for (float v : m) peak = std::max(peak, static_cast<double>(std::fabs(v)));
    ASSERT_GT(peak, 1e-3);
    // From the third block on: the first ramps the gains in from 0.
    const int delays[2] = {12, 30};
    double worst[2] = {0.0, 0.0};
    for (size_t n = 440; n < m.size(); ++n) {
        for (int ear = 0; ear < 2; ++ear) {
            const double expected = m[n - delays[ear]];
            worst[ear] = std::max(worst[ear], std::fabs(b[2 * n + ear] - expected));
        }
    }
    // Im(z e^{-i omega d}) is q(t - d) up to the decay over d, e^{xi omega d} - 1 < 1e-4 here.
    EXPECT_LT(worst[0], 1e-3 * peak);
    EXPECT_LT(worst[1], 1e-3 * peak);
    // And not merely alike: the ears differ by the 18 samples between their delays.
    double apart = 0.0;
    for (size_t n = 440; n < m.size(); ++n) {
        apart = std::max(apart, static_cast<double>(std::fabs(b[2 * n] - b[2 * n + 1])));
    }
    EXPECT_GT(apart, 0.1 * peak);
}

TEST(EngineBinaural, MonoEngineRefusesAnHrtfSetAndNullMakesItStereoAgain) {
    TempDir dir;
    const EngineObjectFiles files = ringingChair(dir, {500.0, 1200.0});
    Engine mono(1, 200);
    EXPECT_FALSE(mono.setHrtf(pureDelaySet()));
    EXPECT_FALSE(mono.binaural());

    // A set given and taken away again: the output is the stereo output, sample for sample.
    Engine stereo(2, 200), restored(2, 200);
    ASSERT_TRUE(restored.setHrtf(pureDelaySet()));
    EXPECT_TRUE(restored.binaural());
    ASSERT_TRUE(restored.setHrtf(nullptr));
    EXPECT_FALSE(restored.binaural());
    stereo.setListener(headAt(0.0));
    restored.setListener(headAt(0.0));
    EXPECT_EQ(strikeAndRender(stereo, files, 0.1), strikeAndRender(restored, files, 0.1));
}

TEST(EngineBinaural, ReplacingTheSetWhileAnotherThreadRendersIsRaceFree) {
    TempDir dir;
    Engine engine(2, 200);
    engine.setListener(headAt(45.0));
    std::string problem;
    const int id = engine.addObject(engine.loadObject(ringingChair(dir, {440.0, 990.0}), &problem));
    ASSERT_GE(id, 0) << problem;
    std::atomic<bool> stop{false};
    std::atomic<bool> badSample{false};
    std::thread audio([&] {
        std::vector<float> out(2 * 256);
        while (!stop.load(std::memory_order_acquire)) {
            engine.render(out.data(), 256);
            for (float s : out) {
                if (!(std::fabs(s) <= 1.0f)) badSample = true;
            }
        }
    });
    const double direction[3] = {0.0, 1.0, 0.0};
    for (int round = 0; round < 40; ++round) {
        engine.setHrtf(round % 3 == 2 ? nullptr : pureDelaySet());
        engine.object(id)->strike(round % 50, direction, 0.5);
    }
    stop.store(true, std::memory_order_release);
    audio.join();
    EXPECT_FALSE(badSample.load());
}

}  // namespace
