// libtonwell against tonwell-render: strikes given through the C interface (library/tonwell.h)
// at the times a script gives them to the renderer produce the renderer's WAV samples bit for
// bit, mono and stereo, with either renderer, and so does a contact along a path that a host
// moves block by block. The listener is the chair's start camera, placed
// here by the program's own camera as the renderer places it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "geometry/listener_points.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_presets.h"
#include "tests/render/render_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"
#include "tonwell.h"
#include "tools/render/offline_render.h"

namespace {

// The listener the renderer hears from: the one the chair's start camera publishes.
ListenerPoints chairStartListener() {
    const SceneParameters& preset = *scenePreset(1);
    const double up[3] = {0.0, 1.0, 0.0};
    OrbitCamera camera(preset.initialCameraRadius, preset.cameraPhi * degreesToRadians,
                       preset.cameraTheta * degreesToRadians, preset.cameraFocus, up, 0.05);
    return publishedListener.load();
}

// The host's samples are the renderer's WAV samples, bit for bit, and not silence.
void expectSameSamples(const std::vector<float>& samples, const WavSamples& wav, double floor) {
    ASSERT_EQ(wav.samples.size(), samples.size());
    double peak = 0.0;
    for (float s : samples) peak = std::max(peak, static_cast<double>(std::fabs(s)));
    EXPECT_GT(peak, floor);
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(samples[i], wav.samples[i]) << "sample " << i << " of " << samples.size();
}

struct ScriptedStrike {
    double seconds;
    int vertex;
    double direction[3];
    double magnitude;  // exact in single precision, as the renderer's magnitudes are
};

struct AgreementCase {
    int channels;
    const char* renderer;
};

class EngineAgreesWithRender : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(EngineAgreesWithRender, BitForBit) {
    const AgreementCase c = GetParam();
    TempDir dir;
    TestSceneOptions options;
    options.sourcesPerMode = 3;
    writeTestScene(dir.path(), 1, options);
    const std::vector<ScriptedStrike> strikes = {{0.0, 12, {0.3, -1.0, 0.2}, 0.5},
                                                 {0.1, 40, {-1.0, 0.25, 0.5}, 1.25},
                                                 {0.1, 41, {0.0, 0.0, -1.0}, 0.75},
                                                 {0.37, 3, {0.5, 0.5, 0.5}, 2.0}};
    const double lengthSeconds = 0.8;

    std::vector<std::string> arguments = {
        dir.file("chair"), "-o",       dir.file("out.wav"), c.channels == 2 ? "--stereo" : "--mono",
        "--renderer",      c.renderer, "--length",          "0.8"};
    for (const ScriptedStrike& s : strikes) {
        char text[256];
        snprintf(text, sizeof text,
                 "at=%.17g vertex=%d direction=%.17g,%.17g,%.17g magnitude=%.17g", s.seconds,
                 s.vertex, s.direction[0], s.direction[1], s.direction[2], s.magnitude);
        arguments.push_back("--strike");
        arguments.push_back(text);
    }
    const RenderRun run = runRenderer(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const WavSamples wav = readWav(dir.file("out.wav"));
    ASSERT_EQ(wav.channels, c.channels);

    const ListenerPoints listener = chairStartListener();

    tonwell_engine* engine = nullptr;
    ASSERT_EQ(tonwell_engine_create(c.channels, 200, &engine), TONWELL_OK);
    ASSERT_EQ(
        tonwell_engine_set_listener(engine, listener.eye, listener.leftEar, listener.rightEar),
        TONWELL_OK);
    ASSERT_EQ(tonwell_engine_set_renderer(engine, std::string(c.renderer) == "Modal"
                                                      ? TONWELL_RENDERER_MODAL
                                                      : TONWELL_RENDERER_ZEP),
              TONWELL_OK);
    tonwell_object* chair = nullptr;
    ASSERT_EQ(tonwell_object_load(engine, dir.file("chair").c_str(), &chair), TONWELL_OK)
        << tonwell_last_error_message();

    // Blocks of 220 frames; a strike sounds from the first block boundary at or after its time.
    const int N = 220;
    const long frames = std::lround(lengthSeconds * 44100);
    std::vector<float> samples(static_cast<size_t>(frames) * c.channels);
    long done = 0;
    for (long block = 0; done < frames; ++block) {
        for (const ScriptedStrike& s : strikes) {
            if (strikeBlock(s.seconds, N) != block) continue;
            ASSERT_EQ(tonwell_object_strike(chair, s.vertex, s.direction, s.magnitude), TONWELL_OK);
        }
        const long take = std::min<long>(N, frames - done);
        ASSERT_EQ(tonwell_engine_render(engine, &samples[done * c.channels], take), TONWELL_OK);
        done += take;
    }
    tonwell_engine_destroy(engine);

    expectSameSamples(samples, wav, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Channels, EngineAgreesWithRender,
                         ::testing::Values(AgreementCase{1, "ZEP"}, AgreementCase{2, "ZEP"},
                                           AgreementCase{1, "Modal"}),
                         [](const ::testing::TestParamInfo<AgreementCase>& info) {
                             return std::string(info.param.channels == 2 ? "Stereo" : "Mono") +
                                    info.param.renderer;
                         });

}  // namespace

// A contact along a path, as tonwell-render's --contact follows it, given through the C
// interface by a host loop: before each of its blocks the contact moves to the path's point at
// the block's end (constant speed along the straight segments between the vertices), brought to
// the surface by tonwell_object_surface_point, at the object's own roughness
// (tonwell_object_contact_roughness); it is lifted before its end block. Bit for bit the
// renderer's samples.
TEST(EngineAgreesWithRender, ContactAlongAPathBitForBit) {
    TempDir dir;
    writeTestScene(dir.path(), 1);
    const std::vector<int> path = {10, 40, 80};
    const double start = 0.1, duration = 0.5, force = 0.05, lengthSeconds = 0.8;
    const RenderRun run =
        runRenderer({dir.file("chair"), "-o", dir.file("out.wav"), "--length", "0.8", "--contact",
                     "scrape path=10,40,80 at=0.1 duration=0.5 force=0.05"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const WavSamples wav = readWav(dir.file("out.wav"));

    // The path's corners as the renderer reads them: the mesh's single-precision vertices.
    const std::vector<std::array<float, 3>> vertices = readObjVertices(dir.file("chair/chair.obj"));
    std::vector<double> corners;
    for (int v : path)
        for (int a = 0; a < 3; ++a) corners.push_back(vertices[size_t(v)][size_t(a)]);
    double length = 0.0;
    for (size_t k = 3; k < corners.size(); k += 3) {
        double d2 = 0.0;
        for (int a = 0; a < 3; ++a)
            d2 += (corners[k + a] - corners[k - 3 + a]) * (corners[k + a] - corners[k - 3 + a]);
        length += std::sqrt(d2);
    }
    const double speed = length / duration;
    auto pathPoint = [&](double s, double point[3]) {
        for (size_t k = 0; k + 3 < corners.size(); k += 3) {
            double d[3];
            for (int a = 0; a < 3; ++a) d[a] = corners[k + 3 + a] - corners[k + a];
            const double segment = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            if (s <= segment && segment > 0.0) {
                for (int a = 0; a < 3; ++a) point[a] = corners[k + a] + d[a] * (s / segment);
                return;
            }
            s -= segment;
        }
        for (int a = 0; a < 3; ++a) point[a] = corners[corners.size() - 3 + a];
    };

    const ListenerPoints listener = chairStartListener();
    tonwell_engine* engine = nullptr;
    ASSERT_EQ(tonwell_engine_create(1, 200, &engine), TONWELL_OK);
    ASSERT_EQ(
        tonwell_engine_set_listener(engine, listener.eye, listener.leftEar, listener.rightEar),
        TONWELL_OK);
    tonwell_object* chair = nullptr;
    ASSERT_EQ(tonwell_object_load(engine, dir.file("chair").c_str(), &chair), TONWELL_OK);
    double roughness = 0.0;
    ASSERT_EQ(tonwell_object_contact_roughness(chair, &roughness), TONWELL_OK);

    const int N = 220;
    const long firstBlock = strikeBlock(start, N), endBlock = strikeBlock(start + duration, N);
    const long frames = std::lround(lengthSeconds * 44100);
    std::vector<float> samples(static_cast<size_t>(frames));
    long done = 0;
    for (long block = 0; done < frames; ++block) {
        if (block >= firstBlock && block < endBlock) {
            const double t = static_cast<double>((block + 1) * N) / 44100.0 -
                             static_cast<double>(firstBlock * N) / 44100.0;
            double q[3], weights[3], normal[3];
            int corner[3];
            pathPoint(speed * t, q);
            ASSERT_EQ(tonwell_object_surface_point(chair, q, corner, weights, normal), TONWELL_OK);
            ASSERT_EQ(tonwell_object_contact(chair, TONWELL_CONTACT_SCRAPE, corner, weights, normal,
                                             force, speed, roughness, 1.5, 0.008),
                      TONWELL_OK);
        }
        if (block == endBlock) {
            ASSERT_EQ(tonwell_object_contact_end(chair), TONWELL_OK);
        }
        const long take = std::min<long>(N, frames - done);
        ASSERT_EQ(tonwell_engine_render(engine, &samples[size_t(done)], take), TONWELL_OK);
        done += take;
    }
    tonwell_engine_destroy(engine);

    expectSameSamples(samples, wav, 1e-4);
}
