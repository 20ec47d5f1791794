// Speed of the audio block: one block of 220 frames for 10 to 10,000 active modes, mono and
// stereo, with 0, 20 and 80 transfer sources per mode, through the vectorised block path and
// through the literal loop in the same run. The literal loop is literal end to end: the transfer
// evaluated source by source as the plain sum (two square roots, the library's sin and cos, h0,
// h1 and the four angular terms), then every resonator behind its pointer, advanced sample by
// sample and mode by mode. Reports ns per mode-sample, the audio workload (block time / 4.99 ms,
// the real time of a 220-frame block) and the ratio of the two paths; first checks that the two
// paths' transfers agree within 1e-12 and their mixes within 1e-9 of the block's peak. The summary
// uses processor time per block.
//
// A second case times the block path with the Modes window's per-mode level publication on
// (sound/mode_levels.h: each mode's squared gain recorded, its level at the block's end computed
// and handed to the GUI thread), against the same block without it; a third times the
// publication alone, whose share of the block is steadier on a shared machine than the
// difference of two block timings.
//
//   build/bench/tonwell_bench          (about a minute)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/scene_loading.h"
#include "bench/block_time_reporter.h"
#include "bench/literal_block.h"
#include "bench/synthetic_block_scene.h"
#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/modal_bank_lanes.h"
#include "sound/mode_levels.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"

extern const int sceneSelector = 1;

namespace {

constexpr int kFrames = 220;
constexpr double kBlockSeconds = kFrames / 44100.0;  // 4.99 ms

// The blocks' own context.
AudioBlockContext blockContext;

// The synthetic scene of `modes` modes and `sources` sources per mode, the listener about a
// metre away.
void setUpScene(int modes, int sources) {
    setUpSyntheticScene(modes, sources, blockContext,
                        ListenerPoints{{0.5, 0.3, 1.0}, {0.4, 0.3, 1.0}, {0.6, 0.3, 1.0}});
}

void runBlock(float* out, bool stereo, bool literal) {
    MutexLock lock(synthesisMutex);
    if (literal) {
        stereo ? literalStereoBlock(blockContext, out, kFrames)
               : literalMonoBlock(blockContext, out, kFrames);
    } else {
        stereo ? synthesizeStereoBlock(blockContext, out, kFrames)
               : synthesizeMonoBlock(blockContext, out, kFrames);
    }
}

// Args: modes, sources per mode, channels, literal (0 = vectorised block path, 1 = literal loop).
void AudioBlock(benchmark::State& state) {
    const int modes = static_cast<int>(state.range(0));
    const int sources = static_cast<int>(state.range(1));
    const bool stereo = state.range(2) == 2;
    const bool literal = state.range(3) == 1;
    setUpScene(modes, sources);
    std::vector<float> out(2 * kFrames);
    long block = 0;
    for (auto _ : state) {
        // Keep the bank ringing: a strike every half second of audio.
        if (block % 100 == 0) strikeEveryMode(static_cast<unsigned>(block));
        runBlock(out.data(), stereo, literal);
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    state.SetLabel(literal ? "literal" : "block");
    state.counters["ns_per_mode_sample"] =
        benchmark::Counter(1e-9 * modes * kFrames, benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
    state.counters["workload_pct"] =
        benchmark::Counter(kBlockSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

void blockArguments(benchmark::internal::Benchmark* b) {
    for (int channels : {1, 2}) {
        for (int modes : {10, 100, 1000, 10000}) {
            for (int sources : {0, 20, 80}) {
                for (int literal : {0, 1}) b->Args({modes, sources, channels, literal});
            }
        }
    }
}
BENCHMARK(AudioBlock)->Apply(blockArguments)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

// The block path with the per-mode levels published, as while the Modes window is open; a GUI
// side takes each publication, as the window does once per frame.
// Args: modes, sources per mode, channels.
void AudioBlockWithLevels(benchmark::State& state) {
    const int modes = static_cast<int>(state.range(0));
    setUpScene(modes, static_cast<int>(state.range(1)));
    const bool stereo = state.range(2) == 2;
    std::vector<float> out(2 * kFrames);
    blockContext.modeLevelsWanted = true;
    long block = 0;
    for (auto _ : state) {
        if (block % 100 == 0) strikeEveryMode(static_cast<unsigned>(block));
        runBlock(out.data(), stereo, false);
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    blockContext.modeLevelsWanted = false;
    benchmark::DoNotOptimize(blockContext.modeLevels.acquireLatest());
    state.SetLabel("block+levels");
}

// The publication alone, the work it adds to a block: the squared gains recorded, the levels
// computed from the resonators' state and the slot handed over, then taken by the GUI side.
// Args: modes, channels.
void ModeLevelPublication(benchmark::State& state) {
    const int modes = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    setUpScene(modes, 0);
    strikeEveryMode(1);
    std::vector<float> out(2 * kFrames);
    runBlock(out.data(), channels == 2, false);  // a ringing state and this block's gains
    const double* gains[2] = {channels == 2 ? leftTransfer : monoTransfer, rightTransfer};
    for (auto _ : state) {
        recordModeGains(blockContext.modeLevels, gains, channels, modes);
        publishModeLevels(blockContext.modeLevels, resonators, modes);
        benchmark::DoNotOptimize(blockContext.modeLevels.acquireLatest());
    }
    state.SetLabel("levels only");
}
BENCHMARK(ModeLevelPublication)
    ->ArgsProduct({{10, 100, 1000, 10000}, {1, 2}})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.3);

void levelArguments(benchmark::internal::Benchmark* b) {
    for (int channels : {1, 2}) {
        for (int modes : {10, 100, 1000, 10000}) {
            for (int sources : {0, 20, 80}) b->Args({modes, sources, channels});
        }
    }
}
BENCHMARK(AudioBlockWithLevels)->Apply(levelArguments)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

// [SECTION] Agreement of the two paths

// The mix of one struck block as doubles, through the block path's kernel and through the literal
// loop, from the same state; returns max |difference| / max |literal|, and whether the states
// after the block agree bit for bit.
double mixDisagreement(int channels, double* peakOut, bool* statesEqual) {
    const int modes = totalModeCount;
    const int N = kFrames;
    const int duration = 10;
    std::vector<double> previous[2], current[2];
    for (int c = 0; c < channels; ++c) {
        std::mt19937 random(17 + c);
        std::uniform_real_distribution<double> u(0.0, 300.0);
        for (int e = 0; e < modes; ++e) {
            previous[c].push_back(u(random));
            current[c].push_back(u(random));
        }
    }
    std::vector<ModalResonator> saved;
    for (int e = 0; e < modes; ++e) {
        resonators[e]->force = 26.0 * 40.0 * ((e % 5) - 2) / std::sqrt(double(modes));
        saved.push_back(*resonators[e]);
    }

    // Block path.
    const double* previousPointers[2] = {previous[0].data(),
                                         channels == 2 ? previous[1].data() : nullptr};
    const double* currentPointers[2] = {current[0].data(),
                                        channels == 2 ? current[1].data() : nullptr};
    std::vector<double> fast[2] = {std::vector<double>(N), std::vector<double>(N)};
    ModalBankLanes& bank = blockContext.modalBankLanes;
    loadModalBankLanes(bank, resonators, modes, channels, previousPointers, currentPointers, N);
    double* mix[2] = {fast[0].data(), fast[1].data()};
    renderModalBankLanes(bank, 0, duration, true, mix, blockContext.useAvx2Lanes);
    mix[0] += duration;
    mix[1] += duration;
    renderModalBankLanes(bank, duration, N - duration, false, mix, blockContext.useAvx2Lanes);
    storeModalBankLanes(bank, resonators);
    std::vector<ModalResonator> afterFast;
    for (int e = 0; e < modes; ++e) afterFast.push_back(*resonators[e]);

    // Literal loop.
    for (int e = 0; e < modes; ++e) *resonators[e] = saved[e];
    std::vector<double> literal[2] = {std::vector<double>(N, 0.0), std::vector<double>(N, 0.0)};
    const double invN = 1.0 / N;
    for (int i = 0; i < N; ++i) {
        if (i == duration) {
            for (int e = 0; e < modes; ++e) resonators[e]->force = 0.0;
        }
        for (int e = 0; e < modes; ++e) {
            resonators[e]->advance();
            const double q = resonators[e]->displacement;
            for (int c = 0; c < channels; ++c) {
                literal[c][i] += invN * q * ((N - i) * previous[c][e] + i * current[c][e]);
            }
        }
    }
    *statesEqual = true;
    for (int e = 0; e < modes; ++e) {
        *statesEqual &= afterFast[e].displacement == resonators[e]->displacement &&
                        afterFast[e].stateReal == resonators[e]->stateReal &&
                        afterFast[e].velocity == resonators[e]->velocity;
    }
    double peak = 0.0, worst = 0.0;
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < N; ++i) {
            peak = std::max(peak, std::fabs(literal[c][i]));
            worst = std::max(worst, std::fabs(fast[c][i] - literal[c][i]));
        }
    }
    *peakOut = peak;
    return worst / peak;
}

// The worst relative difference between the vectorised and the literal transfer of every mode
// at the three listener points of the scene.
double transferDisagreement() {
    const ListenerPoints listener = publishedListener.load();
    std::vector<double> fast(totalModeCount), literal(totalModeCount);
    double worst = 0.0;
    for (const double* point : {listener.eye, listener.leftEar, listener.rightEar}) {
        transferModel.evaluateTransfer(point, fast.data(), -1, blockContext.useAvx2Lanes);
        transferModel.evaluateTransferLiteral(point, literal.data(), -1);
        for (int i = 0; i < totalModeCount; ++i) {
            const double difference = std::fabs(fast[i] - literal[i]);
            worst = std::max(worst, literal[i] > 0.0 ? difference / literal[i] : difference);
        }
    }
    return worst;
}

// [SECTION] Summary

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    printf("Agreement of the block path with the literal loop (one struck block, 20 sources):\n");
    bool agree = true;
    for (int modes : {10, 100, 1000, 10000}) {
        setUpScene(modes, 20);
        for (int channels : {1, 2}) {
            double peak = 0.0;
            bool statesEqual = false;
            const double relative = mixDisagreement(channels, &peak, &statesEqual);
            printf("  %5d modes, %s: max |difference| / peak = %.2e (peak %.3g), states %s\n",
                   modes, channels == 1 ? "mono  " : "stereo", relative, peak,
                   statesEqual ? "bit-identical" : "DIFFER");
            agree &= relative <= 1e-9 && statesEqual;
        }
    }
    printf("%s\n\n", agree ? "agreement: within 1e-9 of the peak" : "agreement: FAILED");

    printf("Agreement of the vectorised transfer with the literal sum (eye and both ears):\n");
    bool transferAgrees = true;
    for (int sources : {20, 80}) {
        for (int modes : {10, 100, 1000, 10000}) {
            setUpScene(modes, sources);
            const double relative = transferDisagreement();
            printf("  %5d modes, %2d sources: max relative difference %.2e\n", modes, sources,
                   relative);
            transferAgrees &= relative <= 1e-12;
        }
    }
    printf("%s\n\n", transferAgrees ? "agreement: within 1e-12" : "agreement: FAILED");
    agree &= transferAgrees;

    BlockTimeReporter reporter(true);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf(
        "\nSummary (220-frame block, processor time; ns per mode-sample; workload = block time / "
        "4.99 ms; ratio = literal time / block time):\n");
    printf("%-7s %6s %8s | %12s %12s | %12s %12s | %6s\n", "output", "modes", "sources", "block ns",
           "literal ns", "block load", "literal load", "ratio");
    for (int channels : {1, 2}) {
        for (int modes : {10, 100, 1000, 10000}) {
            for (int sources : {0, 20, 80}) {
                const std::string base = "AudioBlock/" + std::to_string(modes) + "/" +
                                         std::to_string(sources) + "/" + std::to_string(channels);
                const auto fast = reporter.secondsPerBlock.find(base + "/0");
                const auto literal = reporter.secondsPerBlock.find(base + "/1");
                if (fast == reporter.secondsPerBlock.end() ||
                    literal == reporter.secondsPerBlock.end()) {
                    continue;
                }
                const double perModeSample = 1e9 / (static_cast<double>(modes) * kFrames);
                printf("%-7s %6d %8d | %12.3f %12.3f | %11.1f%% %11.1f%% | %5.1fx\n",
                       channels == 1 ? "mono" : "stereo", modes, sources,
                       fast->second * perModeSample, literal->second * perModeSample,
                       100.0 * fast->second / kBlockSeconds,
                       100.0 * literal->second / kBlockSeconds, literal->second / fast->second);
            }
        }
    }

    printf(
        "\nThe per-mode level publication (processor time per 220-frame block; ratio = with "
        "levels / without):\n");
    printf("%-7s %6s %8s | %12s %12s | %6s | %12s %8s\n", "output", "modes", "sources", "block us",
           "+levels us", "ratio", "levels us", "share");
    for (int channels : {1, 2}) {
        for (int modes : {10, 100, 1000, 10000}) {
            for (int sources : {0, 20, 80}) {
                const std::string args = std::to_string(modes) + "/" + std::to_string(sources) +
                                         "/" + std::to_string(channels);
                const auto plain = reporter.secondsPerBlock.find("AudioBlock/" + args + "/0");
                const auto levels = reporter.secondsPerBlock.find("AudioBlockWithLevels/" + args);
                const auto alone =
                    reporter.secondsPerBlock.find("ModeLevelPublication/" + std::to_string(modes) +
                                                  "/" + std::to_string(channels));
                if (plain == reporter.secondsPerBlock.end() ||
                    levels == reporter.secondsPerBlock.end() ||
                    alone == reporter.secondsPerBlock.end()) {
                    continue;
                }
                // share: the publication alone over the block without it.
                printf("%-7s %6d %8d | %12.3f %12.3f | %6.3f | %12.3f %7.2f%%\n",
                       channels == 1 ? "mono" : "stereo", modes, sources, 1e6 * plain->second,
                       1e6 * levels->second, levels->second / plain->second, 1e6 * alone->second,
                       100.0 * alone->second / plain->second);
            }
        }
    }
    benchmark::Shutdown();
    return agree ? 0 : 1;
}
