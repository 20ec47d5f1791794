// Cost of the binaural block against the stereo block: one block of 220 frames for 244 and 1000
// active modes with 0, 20 and 80 transfer sources per mode, through synthesizeStereoBlock and
// synthesizeBinauralBlock on the same bank, in one run. The binaural block evaluates the transfer
// once (at the head's centre) where the stereo block does it twice (at the two ears), adds the
// HRTF gains per mode (the direction's lookup among the set's directions, then per mode and ear
// one interpolated remainder and one sine and cosine), and mixes Im(z g) = q a + s b per ear
// where the stereo block mixes q g. With 0 sources the difference is the mix and the HRTF gains
// alone; with 20 and 80 (a baked bell's fits take about that many) the transfer's saving comes in.
// The HRTF set is libmysofa's default KEMAR set. A last case times the binaural gains alone.
//
//   build/bench/tonwell_binaural_bench          (about half a minute)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "bench/synthetic_block_scene.h"
#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "geometry/scene_presets.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/binaural_gains.h"
#include "sound/sofa_file.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"

extern const int sceneSelector = 1;

namespace {

constexpr int kFrames = 220;
constexpr double kBlockSeconds = kFrames / 44100.0;

AudioBlockContext blockContext;
std::unique_ptr<HrtfSet> hrtf;

// The audio block benchmark's synthetic scene, the head about a metre away, turned 60 degrees.
void setUpScene(int modes, int sources) {
    ListenerPoints listener{{0.5, 0.3, 1.0}, {0.4, 0.3, 1.0}, {0.6, 0.3, 1.0}};
    listener.forward[0] = std::sin(M_PI / 3);
    listener.forward[2] = -std::cos(M_PI / 3);
    listener.up[1] = 1.0;
    setUpSyntheticScene(modes, sources, blockContext, listener);
}

// Args: modes, sources per mode, output (0 stereo, 1 binaural).
void StereoOrBinauralBlock(benchmark::State& state) {
    if (hrtf == nullptr) {
        std::string problem;
        hrtf = readSofaFile(kDefaultHrtfFile, &problem);
        if (hrtf == nullptr) {
            state.SkipWithError(problem.c_str());
            return;
        }
        blockContext.hrtf.store(hrtf.get(), std::memory_order_release);
    }
    const int modes = static_cast<int>(state.range(0));
    const int sources = static_cast<int>(state.range(1));
    const bool binaural = state.range(2) == 1;
    setUpScene(modes, sources);
    std::vector<float> out(2 * kFrames);
    long block = 0;
    for (auto _ : state) {
        if (block % 100 == 0) strikeEveryMode(static_cast<unsigned>(block));
        {
            MutexLock lock(synthesisMutex);
            binaural ? synthesizeBinauralBlock(blockContext, out.data(), kFrames)
                     : synthesizeStereoBlock(blockContext, out.data(), kFrames);
        }
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    state.SetLabel(binaural ? "binaural" : "stereo");
    state.counters["ns_per_mode_sample"] =
        benchmark::Counter(1e-9 * modes * kFrames, benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
    state.counters["workload_pct"] =
        benchmark::Counter(kBlockSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

void arguments(benchmark::internal::Benchmark* b) {
    for (int modes : {244, 1000}) {
        for (int sources : {0, 20, 80}) {
            for (int binaural : {0, 1}) b->Args({modes, sources, binaural});
        }
    }
}
BENCHMARK(StereoOrBinauralBlock)
    ->Apply(arguments)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The binaural gains alone (sound/binaural_gains.h) for 244 and 1000 modes without sources: the
// direction's lookup and, per mode, the two ears' HRTF gains; what the binaural block adds per
// block beyond the transfer.
void BinauralGainsAlone(benchmark::State& state) {
    std::string problem;
    if (hrtf == nullptr) hrtf = readSofaFile(kDefaultHrtfFile, &problem);
    if (hrtf == nullptr) {
        state.SkipWithError(problem.c_str());
        return;
    }
    setUpScene(static_cast<int>(state.range(0)), 0);
    std::vector<double> parts[4];
    for (std::vector<double>& part : parts) part.assign(totalModeCount, 0.0);
    double* real[2] = {parts[0].data(), parts[1].data()};
    double* imag[2] = {parts[2].data(), parts[3].data()};
    const ListenerPoints listener = publishedListener.load();
    for (auto _ : state) {
        computeBinauralGains(transferModel, modeOmega, totalModeCount, blockContext.useAvx2Lanes,
                             *hrtf, identityPose(), listener, real, imag);
        benchmark::DoNotOptimize(parts[0].data());
    }
}
BENCHMARK(BinauralGainsAlone)->Arg(244)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
