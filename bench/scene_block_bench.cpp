// Speed of the audio block on the baked scenes themselves: every mode of the bell, the chair and
// the dragon with the sources their transfer fits ended with, at 200 transfer updates per second
// (220-frame blocks), mono and stereo, through the engine tonwell-render runs (the program's block
// on the scene's engine object). The synthetic cases of
// tonwell_bench give the cost per mode and source; this one gives the workload a listener meets
// when a full-band scene rings. Reports each scene's modes and sources and the workload (block
// time / 4.99 ms, processor time per block). Scenes missing from the folder are skipped.
//
//   build/bench/tonwell_scene_bench [DEMO_FOLDER]     (default build/demo; a few seconds)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/block_time_reporter.h"
#include "engine/engine.h"
#include "geometry/scene_presets.h"
#include "sound/transfer_model.h"
#include "tools/render/offline_render.h"

// The folder's name chooses the preset, as in tonwell-render.
extern const int sceneSelector = -1;

namespace {

constexpr int kFrames = 220;
constexpr double kBlockSeconds = kFrames / 44100.0;  // 4.99 ms

std::string loadedScene;

// Loads `scene` (a folder of the working directory) for `channels` channels unless it is loaded
// so already; exits with the loader's message when the scene cannot be played.
void loadScene(const std::string& scene, int channels) {
    const std::string key = scene + (channels == 2 ? "/stereo" : "/mono");
    if (key == loadedScene) return;
    if (!loadedScene.empty()) releaseRenderScene();
    RenderOptions options;
    options.sceneFolder = scene;
    options.channelCount = channels;
    const std::string problem = loadRenderScene(options);
    if (!problem.empty()) {
        fprintf(stderr, "tonwell_scene_bench: %s\n", problem.c_str());
        exit(1);
    }
    loadedScene = key;
}

// A strike at a random vertex in a random direction: its force spreads over the modes as a
// click's does.
void strike(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    EngineObject& object = renderObject();
    const double direction[3] = {u(random), u(random), u(random)};
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    const double unit[3] = {direction[0] / length, direction[1] / length, direction[2] / length};
    const int vertex = static_cast<int>(random() % static_cast<unsigned>(object.vertexCount()));
    object.strike(vertex, unit, 1e-2);
}

void SceneBlock(benchmark::State& state, const std::string& scene, bool stereo) {
    loadScene(scene, stereo ? 2 : 1);
    std::vector<float> out(2 * kFrames);
    long block = 0;
    for (auto _ : state) {
        if (block % 100 == 0) strike(static_cast<unsigned>(block));
        renderEngine().render(out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    state.counters["workload_pct"] =
        benchmark::Counter(kBlockSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

struct SceneCounts {
    int modes = 0;
    long sources = 0;
    int maxSources = 0;
    double lowHz = 0.0, highHz = 0.0;
};

SceneCounts countScene(const std::string& scene) {
    loadScene(scene, 1);
    const EngineObject& object = renderObject();
    const TransferModel& transfer = object.transfer();
    SceneCounts counts;
    counts.modes = transfer.frequencyCount;
    for (int j = 0; j < transfer.frequencyCount; ++j) {
        counts.sources += transfer.sourceCounts[j];
        counts.maxSources = std::max(counts.maxSources, transfer.sourceCounts[j]);
    }
    counts.lowHz = object.modeOmega()[0] / twoPi;
    counts.highHz = object.modeOmega()[object.modeCount() - 1] / twoPi;
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "build/demo";
    if (argc > 2 || chdir(folder.c_str()) != 0) {
        fprintf(stderr, "usage: tonwell_scene_bench [DEMO_FOLDER]  (%s is not a folder)\n",
                folder.c_str());
        return 2;
    }

    std::vector<std::string> scenes;
    for (const char* scene : {"bell", "chair", "dragon"}) {
        if (std::filesystem::is_directory(scene)) scenes.push_back(scene);
    }
    if (scenes.empty()) {
        fprintf(stderr, "tonwell_scene_bench: no baked scene (bell, chair, dragon) in %s\n",
                folder.c_str());
        return 1;
    }
    std::map<std::string, SceneCounts> counts;
    for (const std::string& scene : scenes) {
        counts[scene] = countScene(scene);
        for (bool stereo : {false, true}) {
            benchmark::RegisterBenchmark(
                ("SceneBlock/" + scene + (stereo ? "/stereo" : "/mono")).c_str(),
                [scene, stereo](benchmark::State& state) { SceneBlock(state, scene, stereo); })
                ->Unit(benchmark::kMicrosecond)
                ->MinTime(0.5);
        }
    }

    BlockTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    releaseRenderScene();

    printf(
        "\nSummary (220-frame blocks = 200 transfer updates per second, processor time; workload "
        "= block time / 4.99 ms):\n");
    printf("%-7s %6s %15s %9s %8s | %10s %10s\n", "scene", "modes", "band Hz", "sources",
           "max/mode", "mono", "stereo");
    for (const std::string& scene : scenes) {
        const SceneCounts& c = counts[scene];
        const double mono = reporter.secondsPerBlock["SceneBlock/" + scene + "/mono"];
        const double stereo = reporter.secondsPerBlock["SceneBlock/" + scene + "/stereo"];
        char band[32];
        snprintf(band, sizeof band, "%.0f-%.0f", c.lowHz, c.highHz);
        printf("%-7s %6d %15s %9ld %8d | %9.1f%% %9.1f%%\n", scene.c_str(), c.modes, band,
               c.sources, c.maxSources, 100.0 * mono / kBlockSeconds,
               100.0 * stereo / kBlockSeconds);
    }
    benchmark::Shutdown();
    return 0;
}
