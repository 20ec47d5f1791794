// Speed of the audio block on the baked scenes themselves: every mode of the bell, the chair and
// the dragon with the sources their transfer fits ended with, at 200 transfer updates per second
// (220-frame blocks), mono and stereo, through the program's block path. The synthetic cases of
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

#include "app/scene_loading.h"
#include "sound/audio_block.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"
#include "tools/render/offline_render.h"

// The folder's name chooses the preset, as in tonwell-render.
extern const int sceneSelector = -1;

namespace {

constexpr int kFrames = 220;
constexpr double kBlockSeconds = kFrames / 44100.0;  // 4.99 ms

std::string loadedScene;

// Loads `scene` (a folder of the working directory) unless it is loaded already; exits with the
// loader's message when the scene cannot be played.
void loadScene(const std::string& scene) {
    if (scene == loadedScene) return;
    if (!loadedScene.empty()) releaseRenderScene();
    RenderOptions options;
    options.sceneFolder = scene;
    const std::string problem = loadRenderScene(options);
    if (!problem.empty()) {
        fprintf(stderr, "tonwell_scene_bench: %s\n", problem.c_str());
        exit(1);
    }
    loadedScene = scene;
}

// A strike on every mode, as a click spreads its force over the modes.
void strike(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    MutexLock lock(forceMutex);
    for (int i = 0; i < totalModeCount; ++i) pendingModalForce[i] += 1e-3 * u(random);
}

void SceneBlock(benchmark::State& state, const std::string& scene, bool stereo) {
    loadScene(scene);
    std::vector<float> out(2 * kFrames);
    long block = 0;
    for (auto _ : state) {
        if (block % 100 == 0) strike(static_cast<unsigned>(block));
        {
            MutexLock lock(synthesisMutex);
            stereo ? synthesizeStereoBlock(renderBlockContext(), out.data(), kFrames)
                   : synthesizeMonoBlock(renderBlockContext(), out.data(), kFrames);
        }
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    state.counters["workload_pct"] =
        benchmark::Counter(kBlockSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

// Processor time per block of every run, kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            secondsPerBlock[run.run_name.function_name] =
                run.cpu_accumulated_time / static_cast<double>(run.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> secondsPerBlock;
};

struct SceneCounts {
    int modes = 0;
    long sources = 0;
    int maxSources = 0;
    double lowHz = 0.0, highHz = 0.0;
};

SceneCounts countScene(const std::string& scene) {
    loadScene(scene);
    SceneCounts counts;
    counts.modes = transferModel.frequencyCount;
    for (int j = 0; j < transferModel.frequencyCount; ++j) {
        counts.sources += transferModel.sourceCounts[j];
        counts.maxSources = std::max(counts.maxSources, transferModel.sourceCounts[j]);
    }
    counts.lowHz = modeOmega[0] / twoPi;
    counts.highHz = modeOmega[totalModeCount - 1] / twoPi;
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

    SummaryReporter reporter;
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
