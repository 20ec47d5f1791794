// libtonwell against tonwell-render: strikes given through the C interface (library/tonwell.h)
// at the times a script gives them to the renderer produce the renderer's WAV samples bit for
// bit, mono and stereo, with either renderer. The listener is the chair's start camera, placed
// here by the program's own camera as the renderer places it.
#include <gtest/gtest.h>

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

    // The chair's start camera publishes the listener the renderer hears from.
    const SceneParameters& preset = *scenePreset(1);
    const double up[3] = {0.0, 1.0, 0.0};
    OrbitCamera camera(preset.initialCameraRadius, preset.cameraPhi * degreesToRadians,
                       preset.cameraTheta * degreesToRadians, preset.cameraFocus, up, 0.05);
    const ListenerPoints listener = publishedListener.load();

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

    ASSERT_EQ(wav.samples.size(), samples.size());
    double peak = 0.0;
    for (float s : samples) peak = std::max(peak, static_cast<double>(std::fabs(s)));
    EXPECT_GT(peak, 1e-3);
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i], wav.samples[i]) << "sample " << i << " of " << samples.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, EngineAgreesWithRender,
                         ::testing::Values(AgreementCase{1, "ZEP"}, AgreementCase{2, "ZEP"},
                                           AgreementCase{1, "Modal"}),
                         [](const ::testing::TestParamInfo<AgreementCase>& info) {
                             return std::string(info.param.channels == 2 ? "Stereo" : "Mono") +
                                    info.param.renderer;
                         });

}  // namespace
