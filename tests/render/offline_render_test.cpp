// tonwell-render end to end: a one-mode scene against the closed-form ringing of its mode, a
// small scene against the audio callbacks called directly with the same strikes, listener and
// settings, and the messages and exit codes for bad arguments and broken scene files.
#include "tools/render/offline_render.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/scene_loading.h"
#include "app/startup.h"
#include "geometry/dense_matrix.h"
#include "geometry/listener_points.h"
#include "geometry/obj_model.h"
#include "geometry/obj_reader.h"
#include "geometry/object_pose.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_presets.h"
#include "sound/audio_block_context.h"
#include "sound/audio_callbacks.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"
#include "tests/render/render_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr double kDt = 1.0 / 44100.0;

// [SECTION] One mode in closed form

// A chair scene of one mode at `frequency` Hz: a tetrahedron whose vertex 2 moves along
// (0.3, -0.5, 0.8) in the mode, and one order-0 source of strength `sourceStrength` at the
// origin, so the transfer at distance r is sourceStrength / (k r).
void writeOneModeScene(const TempDir& dir, double frequency, double sourceStrength) {
    dir.write("chair/chair.obj",
              "v 0 0 0\nv 0.1 0 0\nv 0 0.1 0\nv 0 0 0.1\n"
              "f 1 3 2\nf 1 2 4\nf 1 4 3\nf 2 3 4\n");
    std::vector<double> U(12, 0.0);
    U[6] = 0.3, U[7] = -0.5, U[8] = 0.8;
    dir.write("chair/chair.U", denseMatrixBytes(12, 1, U));
    dir.write("chair/chair.freq", denseMatrixBytes(1, 1, {frequency}));
    dir.write("chair/chair-ZEPObjectsList-15.txt", "chair/mode0\n");
    dir.write("chair/mode0.sources",
              denseMatrixBytes(11, 1, {0, 0, 0, sourceStrength, 0, 0, 0, 0, 0, 0, 0}));
    dir.write("chair/mode0.k", denseMatrixBytes(1, 1, {frequency * twoPi / 343.0}));
}

// Displacement n steps after a force F starts acting on a unit-mass mode at rest, held for the
// first D steps: the step response F/w^2 (1 - e^{s t}(cos wd t - (s / wd) sin wd t)), s = -xi w,
// and after the force stops the difference of two step responses.
double pulseDisplacement(double F, double omega, double xi, int D, long n) {
    const double s = -xi * omega, wd = omega * std::sqrt(1.0 - xi * xi);
    auto step = [&](long m) {
        const double t = m * kDt;
        return F / (omega * omega) *
               (1.0 - std::exp(s * t) * (std::cos(wd * t) - (s / wd) * std::sin(wd * t)));
    };
    return n <= D ? step(n) : step(n) - step(n - D);
}

struct OneModeCase {
    const char* renderer;
    int zepRate;
    int impactDuration;
    double magnitude;
};

void PrintTo(const OneModeCase& c, std::ostream* out) {
    *out << c.renderer << ", ZEP rate " << c.zepRate << ", impact duration " << c.impactDuration;
}

class OneModeRender : public ::testing::TestWithParam<OneModeCase> {};

// The chair's Rayleigh damping (alpha 8, beta 7e-6 as floats) on a 440 Hz mode; the strike at
// time 0 acts from the first sample, where the gain still fades in from 0 across the first block.
TEST_P(OneModeRender, EqualsTheClosedFormRingingOfTheMode) {
    const OneModeCase c = GetParam();
    TempDir dir;
    const double frequency = 440.0, S = 15.0;
    writeOneModeScene(dir, frequency, S);
    const std::string wavFile = dir.file("one.wav");
    const RenderRun run = runRenderer(
        {dir.file("chair"), "-o", wavFile, "--renderer", c.renderer, "--zep-rate",
         std::to_string(c.zepRate), "--impact-duration", std::to_string(c.impactDuration),
         "--listener", "0.6,0.3,-0.6", "--length", "0.5", "--strike",
         "at=0 vertex=2 direction=0,0,-2 magnitude=" + std::to_string(c.magnitude)});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const WavSamples wav = readWav(wavFile);
    ASSERT_EQ(wav.channels, 1);
    ASSERT_EQ(wav.sampleRate, 44100);
    ASSERT_EQ(wav.samples.size(), 22050u);

    const double omega = frequency * twoPi;
    const double alpha = 8.0f, beta = 7e-6f;
    const double xi = (alpha + beta * omega * omega) / (2.0 * omega);
    // Modal force: 26 x magnitude x (U_v . unit direction), the unit direction being -z.
    const double F = 26.0 * c.magnitude * -0.8;
    const double r = std::sqrt(0.6 * 0.6 + 0.3 * 0.3 + 0.6 * 0.6);
    // "ZEP": omega |a0 h0(k r)| = omega S / (k r) = 343 S / r; "Modal": 15000 / r.
    const double gain = std::string(c.renderer) == "ZEP" ? 343.0 * S / r : 15000.0 / r;
    const int N = 44100 / c.zepRate;
    const int D = std::min(c.impactDuration, N);  // the force stops at the end of its block

    double peak = 0.0, worst = 0.0;
    for (long j = 0; j < 22050; ++j) {
        const long block = j / N, i = j % N;
        const double ramp = block == 0 ? static_cast<double>(i) / N : 1.0;
        const double expected = gain * ramp * pulseDisplacement(F, omega, xi, D, j + 1);
        peak = std::max(peak, std::fabs(expected));
        worst = std::max(worst, std::fabs(wav.samples[j] - expected));
    }
    EXPECT_GT(peak, 1e-3);  // a signal well above the tolerance
    EXPECT_LE(worst, 1e-9) << "peak " << peak;
}

INSTANTIATE_TEST_SUITE_P(Renderers, OneModeRender,
                         ::testing::Values(OneModeCase{"ZEP", 200, 10, 0.5},
                                           OneModeCase{"Modal", 300, 200, 0.0625},
                                           OneModeCase{"ZEP", 100, 1, 4.0}));

// Two strikes in one block, one with its own force duration (duration=40) and one with the
// render's (--impact-duration 10): the mode rings as the sum of the two rectangular pulses.
TEST(OneModeRender, StrikesOfTheirOwnDurationsAddTheirPulses) {
    TempDir dir;
    const double frequency = 440.0, S = 15.0;
    writeOneModeScene(dir, frequency, S);
    const std::string wavFile = dir.file("two.wav");
    const RenderRun run = runRenderer(
        {dir.file("chair"), "-o", wavFile, "--impact-duration", "10", "--listener", "0.6,0.3,-0.6",
         "--length", "0.2", "--strike", "at=0 vertex=2 direction=0,0,-2 magnitude=0.5 duration=40",
         "--strike", "at=0 vertex=2 direction=0,0,-2 magnitude=0.25"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const WavSamples wav = readWav(wavFile);
    ASSERT_EQ(wav.samples.size(), 8820u);
    const double omega = frequency * twoPi;
    const double alpha = 8.0f, beta = 7e-6f;
    const double xi = (alpha + beta * omega * omega) / (2.0 * omega);
    const double gain = 343.0 * S / std::sqrt(0.6 * 0.6 + 0.3 * 0.3 + 0.6 * 0.6);
    const int N = 220;
    double peak = 0.0, worst = 0.0;
    for (long j = 0; j < 8820; ++j) {
        const double ramp = j < N ? static_cast<double>(j) / N : 1.0;
        const double expected = gain * ramp *
                                (pulseDisplacement(26.0 * 0.5 * -0.8, omega, xi, 40, j + 1) +
                                 pulseDisplacement(26.0 * 0.25 * -0.8, omega, xi, 10, j + 1));
        peak = std::max(peak, std::fabs(expected));
        worst = std::max(worst, std::fabs(wav.samples[j] - expected));
    }
    EXPECT_GT(peak, 1e-3);
    EXPECT_LE(worst, 1e-9) << "peak " << peak;

    const RenderRun bad =
        runRenderer({dir.file("chair"), "-o", wavFile, "--strike", "vertex=2 duration=300"});
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_NE(bad.output.find("duration \"300\" is not a number of samples from 1 to 256"),
              std::string::npos)
        << bad.output;
}

// [SECTION] The same audio as the callbacks called directly

struct Strike {
    long block;  // first block the force acts in
    int vertex;
    double direction[3];  // not normalised; zero: from the eye
    float magnitude;
};

// The reference: the scene loaded here, the listener published by a camera placed like the
// program's, modal forces U_v . F added to the pending buffer during the block before the strike
// sounds, and the callbacks called block after block.
std::vector<float> renderThroughCallbacks(const std::string& demo, const OrbitCamera& camera,
                                          bool stereo, int blocks,
                                          const std::vector<Strike>& strikes) {
    (void)camera;  // it published the listener when it was made
    ScopedWorkingDirectory here(demo);
    int rows = 0, r = 0, fr = 0, fc = 0;
    double *U = nullptr, *f = nullptr;
    EXPECT_EQ(loadDenseMatrix("chair/chair.U", &rows, &r, &U), 0);
    EXPECT_EQ(loadDenseMatrix("chair/chair.freq", &fr, &fc, &f), 0);
    ObjModel* mesh = glmReadOBJ("chair/chair.obj");
    allocateModeArrays(r);
    AudioBlockContext context;
    context.allocate(r);
    for (int i = 0; i < r; ++i) {
        modeOmega[i] = f[i] * twoPi;
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
    }
    createResonators(8.0f, 7e-6f);
    transferModel = loadTransferModel("chair/chair-ZEPObjectsList-15.txt");
    rendererType = 0;
    impactDuration = 10;
    publishedObjectPose.store(identityPose());
    const ListenerPoints listener = publishedListener.load();
    const int vertices = rows / 3;

    auto addStrikes = [&](long block, double* forces) {
        for (const Strike& s : strikes) {
            if (s.block != block) continue;
            double d[3];
            const float* p = &mesh->vertices[3 * (s.vertex + 1)];
            for (int k = 0; k < 3; ++k) {
                d[k] = (s.direction[0] == 0 && s.direction[1] == 0 && s.direction[2] == 0)
                           ? p[k] - listener.eye[k]
                           : s.direction[k];
            }
            const double L = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            const double m = s.magnitude;
            const double F[3] = {m * (d[0] * (1.0 / L)), m * (d[1] * (1.0 / L)),
                                 m * (d[2] * (1.0 / L))};
            for (int j = 0; j < r; ++j) {
                const double* u = &U[(static_cast<size_t>(s.vertex) + j * vertices) * 3];
                forces[j] += u[0] * F[0] + u[1] * F[1] + u[2] * F[2];
            }
        }
    };
    const int N = 220, channels = stereo ? 2 : 1;
    std::vector<float> out(static_cast<size_t>(blocks) * N * channels);
    addStrikes(0, activeModalForce);
    for (long b = 0; b < blocks; ++b) {
        addStrikes(b + 1, pendingModalForce);
        float* block = &out[static_cast<size_t>(b) * N * channels];
        if (stereo) {
            stereoAudioCallback(nullptr, block, N, nullptr, 0, &context);
        } else {
            monoAudioCallback(nullptr, block, N, nullptr, 0, &context);
        }
    }
    for (double* sources : transferModel.sourceBlocks) free(sources);
    transferModel = TransferModel();
    allocateModeArrays(0);
    glmDelete(mesh);
    free(U);
    free(f);
    return out;
}

// The vertex of the test sphere nearest to the world point p (identity pose).
int nearestVertex(const std::string& demo, const double p[3]) {
    ObjModel* mesh = glmReadOBJ((demo + "/chair/chair.obj").c_str());
    int best = -1;
    double bestD2 = 1e300;
    for (unsigned v = 0; v < mesh->vertexCount; ++v) {
        double d2 = 0;
        for (int k = 0; k < 3; ++k) {
            const double d = p[k] - mesh->vertices[3 * (v + 1) + k];
            d2 += d * d;
        }
        if (d2 < bestD2) bestD2 = d2, best = static_cast<int>(v);
    }
    glmDelete(mesh);
    return best;
}

class RenderAgainstCallbacks : public ::testing::TestWithParam<bool> {};

// Three strikes: one at time 0 from the eye, one at a world point snapped to its vertex, and one
// from a script in the same block with its own direction and magnitude (the two add up).
TEST_P(RenderAgainstCallbacks, SampleForSample) {
    const bool stereo = GetParam();
    TempDir dir;
    writeTestScene(dir.path(), 1);
    const double point[3] = {0.1, 0.25, 0.0};
    const int snapped = nearestVertex(dir.path(), point);
    dir.write("strikes.txt",
              "# a second strike in the same block as the point\n"
              "\n"
              "at=0.0502 vertex=40 direction=1,0,0 magnitude=0.7\n");
    std::vector<std::string> arguments = {dir.file("chair/"),
                                          "-o",
                                          dir.file("out.wav"),
                                          "--length",
                                          "0.3",
                                          "--strike",
                                          "vertex=12",
                                          "--strike",
                                          "at=0.05 point=0.1,0.25,0.0",
                                          "--script",
                                          dir.file("strikes.txt")};
    if (stereo) arguments.insert(arguments.end(), {"--stereo", "--camera", "1.5,30,10"});
    const RenderRun run = runRenderer(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const WavSamples wav = readWav(dir.file("out.wav"));
    ASSERT_EQ(wav.channels, stereo ? 2 : 1);
    EXPECT_EQ(wav.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    // The chair's start camera (1.2 m, -70 deg, 20 deg about (0, -0.05, 0)), or the one given.
    const double focus[3] = {0, -0.05, 0}, up[3] = {0, 1, 0};
    const double degree = 0.017453292519943278;
    const OrbitCamera camera = stereo
                                   ? OrbitCamera(1.5, 30 * degree, 10 * degree, focus, up, 0.05)
                                   : OrbitCamera(1.2, -70 * degree, 20 * degree, focus, up, 0.05);
    // 0.05 s is 10.02 blocks of 220 frames: both later strikes sound from block 11.
    const std::vector<Strike> strikes = {
        {0, 12, {0, 0, 0}, 0.25f}, {11, snapped, {0, 0, 0}, 0.25f}, {11, 40, {1, 0, 0}, 0.7f}};
    const int frames = static_cast<int>(std::lround(0.3 * 44100));
    std::vector<float> reference =
        renderThroughCallbacks(dir.path(), camera, stereo, (frames + 219) / 220, strikes);
    reference.resize(static_cast<size_t>(frames) * wav.channels);

    ASSERT_EQ(wav.samples.size(), reference.size());
    double peak = 0.0;
    for (size_t j = 0; j < reference.size(); ++j) {
        ASSERT_EQ(wav.samples[j], reference[j]) << "sample " << j / wav.channels;
        peak = std::max(peak, std::fabs(static_cast<double>(reference[j])));
    }
    EXPECT_GT(peak, 1e-3);
    // Silence before the block-11 strikes would mean they were lost: the mix changes there.
    EXPECT_NE(run.output.find("vertex " + std::to_string(snapped)), std::string::npos)
        << run.output;
}

INSTANTIATE_TEST_SUITE_P(Channels, RenderAgainstCallbacks, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Stereo" : "Mono";
                         });

// 16-bit output is the float output rounded to the 16-bit grid.
TEST(RenderFormats, Pcm16IsTheFloatRenderQuantised) {
    TempDir dir;
    writeTestScene(dir.path(), 2);
    const std::vector<std::string> common = {dir.file("dragon"), "--length", "0.2", "--strike",
                                             "vertex=100 magnitude=2.5"};
    std::vector<std::string> asFloat = common, asPcm = common;
    asFloat.insert(asFloat.end(), {"-o", dir.file("f.wav")});
    asPcm.insert(asPcm.end(), {"-o", dir.file("p.wav"), "--format", "pcm16"});
    ASSERT_EQ(runRenderer(asFloat).exitCode, 0);
    ASSERT_EQ(runRenderer(asPcm).exitCode, 0);
    const WavSamples f = readWav(dir.file("f.wav")), p = readWav(dir.file("p.wav"));
    EXPECT_EQ(p.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(f.samples.size(), p.samples.size());
    double peak = 0.0;
    for (size_t j = 0; j < f.samples.size(); ++j) {
        peak = std::max(peak, std::fabs(static_cast<double>(f.samples[j])));
        ASSERT_NEAR(p.samples[j], f.samples[j], 1.0 / 32767) << "sample " << j;
    }
    EXPECT_GT(peak, 20.0 / 32767);  // well above the quantisation step
}

// [SECTION] Solo, mute and the per-mode levels

// The mix is linear in the modes: the five solo renders add up to the full render and a mute
// leaves out its mode's solo, to float rounding.
TEST(RenderModeMask, SolosAddUpToTheMixAndMutesLeaveTheirModeOut) {
    TempDir dir;
    writeTestScene(dir.path(), 1);
    auto render = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = {
            dir.file("chair"), "-o", dir.file("x.wav"), "--length", "0.3", "--strike", "vertex=3"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const RenderRun run = runRenderer(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        return readWav(dir.file("x.wav")).samples;
    };
    const std::vector<float> full = render({}), muted = render({"--mute", "2"});
    std::vector<std::vector<float>> solo;
    for (int k = 0; k < 5; ++k) solo.push_back(render({"--solo", std::to_string(k)}));
    ASSERT_EQ(full.size(), 13230u);
    double peak = 0.0, sumError = 0.0, muteError = 0.0;
    for (size_t j = 0; j < full.size(); ++j) {
        double sum = 0.0;
        for (int k = 0; k < 5; ++k) sum += solo[k][j];
        peak = std::max(peak, std::fabs(static_cast<double>(full[j])));
        sumError = std::max(sumError, std::fabs(sum - full[j]));
        muteError =
            std::max(muteError, std::fabs(static_cast<double>(muted[j]) - (full[j] - solo[2][j])));
    }
    EXPECT_GT(peak, 1e-3);
    EXPECT_LE(sumError, 1e-6 * peak);
    EXPECT_LE(muteError, 1e-6 * peak);
    for (int k = 0; k < 5; ++k) EXPECT_NE(solo[k], full) << "mode " << k;
}

// A mode struck from rest by a force F held for D samples has the state z(D) = F (e^{lambda D dt}
// - 1) / (omega_d lambda) (the exact integral of z' = lambda z + F / omega_d) and rings freely
// afterwards, so at sample n >= D its envelope is |z| = F |e^{lambda D dt} - 1| e^{-xi omega
// (n - D) dt} / (omega_d omega). The CSV's level at the end of block b is 20 log10(g |z|) there.
TEST(RenderModeLevels, CsvHoldsTheClosedFormEnvelopeTimesTheGain) {
    TempDir dir;
    const double frequency = 440.0, S = 15.0, magnitude = 0.5;
    writeOneModeScene(dir, frequency, S);
    const RenderRun run =
        runRenderer({dir.file("chair"), "-o", dir.file("one.wav"), "--modes-csv",
                     dir.file("levels.csv"), "--listener", "0.6,0.3,-0.6", "--length", "0.1",
                     "--strike", "at=0 vertex=2 direction=0,0,-2 magnitude=0.5"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::ifstream csv(dir.file("levels.csv"));
    std::string line;
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, "block,time_s,mode0_440Hz");

    const double omega = frequency * twoPi;
    const double xi = (8.0f + 7e-6f * omega * omega) / (2.0 * omega);
    const double wd = omega * std::sqrt(1.0 - xi * xi);
    const double F = 26.0 * magnitude * 0.8;  // |U_v . direction| times the force gain
    const double g = 343.0 * S / std::sqrt(0.6 * 0.6 + 0.3 * 0.3 + 0.6 * 0.6);
    const int D = 10;
    const double kick = std::abs(std::exp(std::complex<double>(-xi * omega, wd) * (D * kDt)) - 1.0);
    int rows = 0;
    while (std::getline(csv, line)) {
        int block = -1;
        double time = 0.0, level_dB = 0.0;
        ASSERT_EQ(sscanf(line.c_str(), "%d,%lf,%lf", &block, &time, &level_dB), 3) << line;
        ASSERT_EQ(block, rows);
        const long n = (block + 1) * 220L;
        EXPECT_NEAR(time, n * kDt, 1e-6);
        const double envelope = F * kick * std::exp(-xi * omega * (n - D) * kDt) / (wd * omega);
        EXPECT_NEAR(level_dB, 20.0 * std::log10(g * envelope), 2e-4) << "block " << block;
        ++rows;
    }
    EXPECT_EQ(rows, 21);  // 0.1 s = 4410 frames: 20 whole blocks and one part
}

// [SECTION] Strike timing

TEST(StrikeBlock, FirstBlockBoundaryAtOrAfterTheTime) {
    EXPECT_EQ(strikeBlock(0.0, 220), 0);
    EXPECT_EQ(strikeBlock(1e-6, 220), 1);
    EXPECT_EQ(strikeBlock(220.0 / 44100, 220), 1);  // exactly on a boundary
    EXPECT_EQ(strikeBlock(3 * 220.0 / 44100, 220), 3);
    EXPECT_EQ(strikeBlock(0.05, 220), 11);
    EXPECT_EQ(strikeBlock(1.0, 147), 300);  // 44100 / 147 = 300 blocks per second
}

// [SECTION] Bad arguments and broken files: one message each, non-zero exit, no crash

struct BadRun {
    const char* name;
    std::vector<std::string> arguments;  // after the scene folder; "@" = the scratch folder
    const char* message;
};

void PrintTo(const BadRun& bad, std::ostream* out) { *out << bad.name; }

class BadRender : public ::testing::TestWithParam<BadRun> {};

TEST_P(BadRender, SaysWhatIsWrong) {
    const BadRun& bad = GetParam();
    TempDir dir;
    writeTestScene(dir.path(), 1);
    auto inScratch = [&](std::string text) {
        const size_t at = text.find('@');
        if (at != std::string::npos) text.replace(at, 1, dir.path());
        return text;
    };
    std::vector<std::string> arguments;
    for (const std::string& a : bad.arguments) arguments.push_back(inScratch(a));
    dir.write("bad-script.txt", "at=0 vertex=3\nat=0.1 vertx=4\n");
    const RenderRun run = runRenderer(arguments);
    EXPECT_GT(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(inScratch(bad.message)), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.wav")));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadRender,
    ::testing::Values(
        BadRun{"UnknownVertex",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=266"},
               "--strike \"vertex=266\": unknown vertex 266 (the mesh chair/chair.obj has 266 "
               "vertices, 0..265)"},
        BadRun{"NegativeTime",
               {"@/chair", "-o", "@/x.wav", "--strike", "at=-0.5 vertex=3"},
               "--strike \"at=-0.5 vertex=3\": time -0.5 is negative"},
        BadRun{"MissingScene",
               {"@/nowhere/chair", "-o", "@/x.wav", "--strike", "vertex=3"},
               "scene folder \"@/nowhere/chair\" does not exist"},
        BadRun{"FolderNameWithoutPreset",
               {"@", "-o", "@/x.wav", "--strike", "vertex=3"},
               "its name must be bell, chair or dragon"},
        BadRun{"UnknownOption",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--loud"},
               "--loud: unknown option"},
        BadRun{"LengthNotANumber",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--length", "2s"},
               "--length 2s: the length must be a number of seconds above 0"},
        BadRun{"ZepRateOutOfRange",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--zep-rate", "50"},
               "--zep-rate 50: the ZEP rate must be a whole number from 100 to 300"},
        BadRun{
            "ModalInStereo",
            {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--stereo", "--renderer", "Modal"},
            "the \"Modal\" renderer is mono only"},
        BadRun{"MoreModesThanTheScene",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--modes", "6"},
               "--modes 6: the scene has only 5 modes"},
        BadRun{"StrikeAfterTheEnd",
               {"@/chair", "-o", "@/x.wav", "--strike", "at=3 vertex=3"},
               "time 3 s starts after the end of the output (--length 2)"},
        BadRun{"SoloBeyondTheModes",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--solo", "5"},
               "--solo 5: the render synthesises modes 0..4"},
        BadRun{"MuteNotAMode",
               {"@/chair", "-o", "@/x.wav", "--strike", "vertex=3", "--mute", "two"},
               "--mute two: the mode must be a whole number of at least 0"},
        BadRun{"NoStrike", {"@/chair", "-o", "@/x.wav"}, "no strike given"},
        BadRun{"NoOutput", {"@/chair", "--strike", "vertex=3"}, "no output file given"},
        BadRun{"StrikeWithoutTarget",
               {"@/chair", "-o", "@/x.wav", "--strike", "at=1"},
               "a strike needs vertex=N or point=X,Y,Z"},
        BadRun{"BadScriptLine",
               {"@/chair", "-o", "@/x.wav", "--script", "@/bad-script.txt"},
               "@/bad-script.txt:2: unknown key \"vertx\""},
        BadRun{"MissingScript",
               {"@/chair", "-o", "@/x.wav", "--script", "@/none.txt"},
               "@/none.txt: cannot be read"},
        BadRun{"UnwritableOutput",
               {"@/chair", "-o", "@/no/such/folder/x.wav", "--strike", "vertex=3"},
               "@/no/such/folder/x.wav: "}),
    [](const ::testing::TestParamInfo<BadRun>& info) { return info.param.name; });

// Broken scene files end the render with the demo's own reader messages.
TEST(BadSceneFiles, SayWhichFileIsBroken) {
    {
        TempDir dir;
        writeTestScene(dir.path(), 1);
        dir.write("chair/chair.U", denseMatrixBytes(798, 5, {1.0, 2.0}));
        const RenderRun run =
            runRenderer({dir.file("chair"), "-o", dir.file("x.wav"), "--strike", "vertex=3"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.output.find("Error reading the matrix from disk file: chair/chair.U"),
                  std::string::npos)
            << run.output;
    }
    {
        TempDir dir;
        writeTestScene(dir.path(), 1);
        std::filesystem::remove(dir.file("chair/chair.obj"));
        const RenderRun run =
            runRenderer({dir.file("chair"), "-o", dir.file("x.wav"), "--strike", "vertex=3"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.output.find("glmReadOBJ() failed: can't open data file \"chair/chair.obj\""),
                  std::string::npos)
            << run.output;
    }
    {
        TempDir dir;
        writeTestScene(dir.path(), 1);
        dir.write("chair/transfer/mode002.sources",
                  denseMatrixBytes(10, 1, std::vector<double>(10)));
        const RenderRun run =
            runRenderer({dir.file("chair"), "-o", dir.file("x.wav"), "--strike", "vertex=3"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.output.find("Error: assertion 10 == 11 failed (1)."), std::string::npos)
            << run.output;
    }
}

TEST(BinauralRender, BadHrtfFileGetsOneMessageNamingItAndExitOne) {
    TempDir dir;
    writeTestScene(dir.path(), 1);
    const std::string text = dir.write("head.sofa", "no HDF5 here\n");
    for (const std::string& file : {text, dir.file("missing.sofa")}) {
        const RenderRun run = runRenderer({dir.file("chair"), "-o", dir.file("x.wav"), "--strike",
                                           "vertex=3", "--binaural", "--hrtf", file});
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_EQ(run.output.rfind("tonwell-render: " + file + ": ", 0), 0u) << run.output;
        // One line, and no WAV file.
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.wav")));
    }
}

TEST(BinauralRender, HeadYawPutsTheObjectOnTheTurnedSide) {
    FILE* probe = fopen("/usr/share/libmysofa/default.sofa", "rb");
    if (probe == nullptr) GTEST_SKIP() << "libmysofa's default HRTF set is not installed";
    fclose(probe);
    TempDir dir;
    TestSceneOptions options;
    options.frequencies = {1500.0, 2600.0, 4100.0};
    writeTestScene(dir.path(), 1, options);
    // The level of each ear over the render, for a head turned by `yaw` degrees.
    auto earLevels = [&](const std::string& yaw, double level[2]) {
        const std::string out = dir.file("yaw" + yaw + ".wav");
        const RenderRun run = runRenderer({dir.file("chair"), "-o", out, "--strike", "vertex=3",
                                           "--binaural", "--head-yaw", yaw, "--length", "0.3"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_NE(run.output.find("binaural"), std::string::npos) << run.output;
        const WavSamples wav = readWav(out);
        ASSERT_EQ(wav.channels, 2);
        level[0] = level[1] = 0.0;
        for (size_t i = 0; i < wav.samples.size(); ++i) {
            level[i % 2] += double(wav.samples[i]) * wav.samples[i];
        }
    };
    double ahead[2], left[2], right[2];
    earLevels("0", ahead);
    earLevels("90", left);
    earLevels("-90", right);
    ASSERT_GT(ahead[0], 0.0);
    // Facing the chair the ears hear alike (the set is symmetric); turned to the left the chair
    // is on the right, turned to the right it is on the left.
    EXPECT_NEAR(ahead[0] / ahead[1], 1.0, 0.02);
    EXPECT_GT(left[1], 2.0 * left[0]);
    EXPECT_GT(right[0], 2.0 * right[1]);
}

// A folder of one's own, "ring", holding the chair test scene's files and a presets.json that
// states the chair's fixed presets, renders the chair's samples bit for bit in "ZEP" mono and in
// "Modal": the file's camera, strike, damping and gain reach the renderer as the table's do.
TEST(PresetFileFolder, RendersAsTheFixedPresetItStates) {
    TempDir dir;
    writeTestScene(dir.path(), 1);
    std::filesystem::copy(dir.file("chair"), dir.file("ring"),
                          std::filesystem::copy_options::recursive);
    // The list names its files relative to the folder's parent.
    std::string list;
    for (int j = 0; j < 5; ++j) list += "ring/transfer/mode00" + std::to_string(j) + "\n";
    dir.write("ring/chair-ZEPObjectsList-15.txt", list);
    const SceneParameters& chair = *scenePreset(1);
    char presets[2048];
    snprintf(presets, sizeof(presets),
             R"({"format": "tonwell-presets/1", "name": "ring",
                 "camera": {"radius": %.17g, "azimuth": %.17g, "elevation": %.17g,
                            "focus": [%.17g, %.17g, %.17g], "maxDistance": %.17g},
                 "impact": {"magnitude": %.17g, "min": %.17g, "max": %.17g},
                 "damping": {"mass": %.17g, "stiffness": %.17g}, "modalGain": %.17g,
                 "lights": {"intensity": 0.6, "enabled": [0, 0, 1, 0, 0, 0, 0, 1]},
                 "background": [0, 0, 0], "floor": false,
                 "files": {"mesh": "chair.obj", "modeShapes": "chair.U",
                           "frequencies": "chair.freq",
                           "transferList": "chair-ZEPObjectsList-15.txt"}})",
             chair.initialCameraRadius, chair.cameraPhi, chair.cameraTheta, chair.cameraFocus[0],
             chair.cameraFocus[1], chair.cameraFocus[2], chair.maxCameraDistance,
             double(chair.impactMagnitude), double(chair.impactMagnitudeMin),
             double(chair.impactMagnitudeMax), double(chair.massDamping),
             double(chair.stiffnessDamping), chair.modalRendererGain);
    dir.write("ring/presets.json", presets);
    for (const char* renderer : {"ZEP", "Modal"}) {
        std::vector<WavSamples> wavs;
        for (const char* folder : {"chair", "ring"}) {
            const std::string out = dir.file(std::string(folder) + ".wav");
            const RenderRun run = runRenderer({dir.file(folder), "-o", out, "--renderer", renderer,
                                               "--length", "0.3", "--strike", "vertex=40"});
            ASSERT_EQ(run.exitCode, 0) << run.output;
            wavs.push_back(readWav(out));
        }
        ASSERT_EQ(wavs[0].samples.size(), wavs[1].samples.size());
        float peak = 0.0f;
        for (size_t j = 0; j < wavs[0].samples.size(); ++j) {
            ASSERT_EQ(wavs[1].samples[j], wavs[0].samples[j]) << renderer << " sample " << j;
            peak = std::max(peak, std::fabs(wavs[0].samples[j]));
        }
        EXPECT_GT(peak, 1e-4f) << renderer;
    }
    // A broken file stops the render with the reader's message.
    dir.write("ring/presets.json", "{\"format\": \"tonwell-presets/1\"}");
    const RenderRun broken =
        runRenderer({dir.file("ring"), "-o", dir.file("x.wav"), "--strike", "vertex=3"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.output.find("Error: \"ring/presets.json\": \"name\" is missing"),
              std::string::npos)
        << broken.output;
}

// A scene without its transfer (as the baker writes them today) renders with "Modal", and "ZEP"
// says what it lacks.
TEST(BadSceneFiles, TransferListIsNeededOnlyForZep) {
    TempDir dir;
    writeTestScene(dir.path(), 0);
    std::filesystem::remove(dir.file("bell/bell-ZEPObjectsList-05.txt"));
    const RenderRun zep =
        runRenderer({dir.file("bell"), "-o", dir.file("x.wav"), "--strike", "vertex=3"});
    EXPECT_EQ(zep.exitCode, 2);
    EXPECT_NE(zep.output.find("bell/bell-ZEPObjectsList-05.txt: the transfer list cannot be read"),
              std::string::npos)
        << zep.output;
    const RenderRun modal = runRenderer({dir.file("bell"), "-o", dir.file("x.wav"), "--renderer",
                                         "Modal", "--length", "0.2", "--strike", "vertex=3"});
    ASSERT_EQ(modal.exitCode, 0) << modal.output;
    const WavSamples wav = readWav(dir.file("x.wav"));
    float peak = 0.0f;
    for (float s : wav.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 1e-4f);
}

}  // namespace
