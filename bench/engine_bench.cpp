// Speed of the engine with many objects: 40 objects of 250 modes each, every mode with 20
// transfer sources, heard in stereo at 200 transfer updates per second (220-frame blocks), beside
// today's single-object block (the demo's audio block on the process-wide bank: the same 250 modes
// and 20 sources) and the engine with that one object, in the same run; the many-object block
// also with the transfer in single precision (Engine::setSinglePrecisionTransfer). Then the two
// halves of the many-object block: the transfer alone (every object's evaluateTransfer at both
// ears, as the block calls it, and its single-precision evaluation) and the resonators alone (the
// same engine with objects that have no transfer, so the block is the banks' advance, the gain
// ramps and the mix). Reports processor time per block and the share of one core (block time / 4.99
// ms, the real time of a block).
//
// The objects are synthetic scenes in the real file formats (tests/support/test_scene.h), written
// to a scratch folder and loaded as a host loads a baked folder.
//
//   build/bench/tonwell_engine_bench          (about half a minute)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/block_time_reporter.h"
#include "engine/engine.h"
#include "geometry/listener_points.h"
#include "geometry/object_pose.h"
#include "geometry/scene_presets.h"
#include "platform/input_exit.h"
#include "sound/audio_block.h"
#include "sound/audio_block_context.h"
#include "sound/impact.h"
#include "sound/synthesis_state.h"
#include "sound/transfer_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr int kFrames = 220;
constexpr double kBlockSeconds = kFrames / 44100.0;  // 4.99 ms
constexpr int kObjects = 40;
constexpr int kModes = 250;
constexpr int kSourcesPerMode = 20;
constexpr double kMassDamping = 0.75, kStiffnessDamping = 4.68874e-8;  // the bell's light damping

const ListenerPoints kListener = {{0.5, 0.3, 1.0}, {0.4, 0.3, 1.0}, {0.6, 0.3, 1.0}};

TempDir* sceneDir = nullptr;

EngineObjectFiles sceneFiles(bool withTransfer) {
    EngineObjectFiles files;
    files.modeShapeFile = sceneDir->file("chair/chair.U");
    files.frequencyFile = sceneDir->file("chair/chair.freq");
    files.transferListFile =
        withTransfer ? sceneDir->file("chair/chair-ZEPObjectsList-15.txt") : std::string();
    files.transferBaseDirectory = sceneDir->path();
    files.massDamping = kMassDamping;
    files.stiffnessDamping = kStiffnessDamping;
    return files;
}

// An engine of `objects` copies of the scene, spread on a 2 m circle about the listener, each
// struck at a vertex of its own.
std::unique_ptr<Engine> makeEngine(int objects, bool withTransfer, bool single = false) {
    std::unique_ptr<Engine> engine(new Engine(2, 200));
    engine->setListener(kListener);
    engine->setSinglePrecisionTransfer(single);
    std::mt19937 random(objects);
    for (int o = 0; o < objects; ++o) {
        std::string problem;
        std::unique_ptr<EngineObject> object =
            engine->loadObject(sceneFiles(withTransfer), &problem);
        if (object == nullptr) {
            fprintf(stderr, "tonwell_engine_bench: %s\n", problem.c_str());
            exit(1);
        }
        ObjectPose pose = identityPose();
        const double angle = twoPi * o / objects;
        pose.translation[0] = kListener.eye[0] + 2.0 * std::cos(angle);
        pose.translation[2] = kListener.eye[2] + 2.0 * std::sin(angle);
        object->setPose(pose);
        engine->addObject(std::move(object));
    }
    return engine;
}

void strikeAll(Engine& engine, unsigned seed) {
    std::mt19937 random(seed);
    const double direction[3] = {0.0, -0.6, -0.8};
    for (int id = 0; id < Engine::kMaxObjects; ++id) {
        EngineObject* object = engine.object(id);
        if (object == nullptr) continue;
        object->strike(static_cast<int>(random() % object->vertexCount()), direction, 1e-2);
    }
}

void setWorkload(benchmark::State& state) {
    state.counters["core_pct"] =
        benchmark::Counter(kBlockSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

void EngineBlock(benchmark::State& state, int objects, bool withTransfer, bool single = false) {
    std::unique_ptr<Engine> engine = makeEngine(objects, withTransfer, single);
    std::vector<float> out(2 * kFrames);
    long block = 0;
    for (auto _ : state) {
        if (block % 100 == 0) strikeAll(*engine, static_cast<unsigned>(block));
        engine->render(out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    setWorkload(state);
}

// The transfer as the many-object block evaluates it: every object at both ears, in double
// precision or in single.
void EngineTransferOnly(benchmark::State& state, bool single) {
    std::unique_ptr<Engine> engine = makeEngine(kObjects, true);
    std::vector<double> gains(kModes);
    for (auto _ : state) {
        for (int id = 0; id < kObjects; ++id) {
            EngineObject& object = *engine->object(id);
            const bool avx2 = object.blockContext().useAvx2Lanes;
            for (const double* ear : {kListener.leftEar, kListener.rightEar}) {
                if (single) {
                    object.singlePrecisionTransfer().evaluate(ear, gains.data(), kModes, avx2);
                } else {
                    object.transfer().evaluateTransfer(ear, gains.data(), kModes, avx2);
                }
                benchmark::DoNotOptimize(gains.data());
            }
        }
    }
    setWorkload(state);
}

// Today's block: the demo's stereo audio block on the process-wide bank, loaded with the same
// scene (its modes, transfer and damping), struck as the engine's objects are.
void DemoBlock(benchmark::State& state) {
    std::string problem;
    std::unique_ptr<EngineObject> scene =
        EngineObject::load(sceneFiles(true), kFrames, 2, &problem);
    allocateModeArrays(kModes);
    for (int i = 0; i < kModes; ++i) {
        modeOmega[i] = scene->modeOmega()[i];
        modeStiffness[i] = modeOmega[i] * modeOmega[i];
    }
    createResonators(kMassDamping, kStiffnessDamping);
    {
        // The loader's console line is kept out of the benchmark's table.
        BadInputCapture quiet;
        transferModel =
            loadTransferModel(sceneFiles(true).transferListFile.c_str(), sceneDir->path().c_str());
    }
    AudioBlockContext context;
    context.allocate(kModes);
    publishedListener.store(kListener);
    publishedObjectPose.store(identityPose());
    std::vector<float> out(2 * kFrames);
    long block = 0;
    const double direction[3] = {0.0, -0.6, -0.8};
    for (auto _ : state) {
        if (block % 100 == 0) {
            MutexLock lock(forceMutex);
            modalImpactForces(scene->modeShapes(), static_cast<int>(block % 50), direction, 1e-2,
                              pendingModalForce);
        }
        {
            MutexLock lock(synthesisMutex);
            synthesizeStereoBlock(context, out.data(), kFrames);
        }
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
    for (double* sources : transferModel.sourceBlocks) free(sources);
    transferModel = TransferModel();
    allocateModeArrays(0);
    setWorkload(state);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TempDir dir;
    sceneDir = &dir;
    TestSceneOptions options;
    options.frequencies = logSpacedFrequencies(kModes, 180.0, 8000.0);
    options.sourcesPerMode = kSourcesPerMode;
    writeTestScene(dir.path(), 1, options);

    struct Case {
        const char* name;
        std::function<void(benchmark::State&)> run;
    };
    const std::vector<Case> cases = {
        {"DemoBlock/1x250/stereo", [](benchmark::State& s) { DemoBlock(s); }},
        {"EngineBlock/1x250/stereo", [](benchmark::State& s) { EngineBlock(s, 1, true); }},
        {"EngineBlock/40x250/stereo", [](benchmark::State& s) { EngineBlock(s, kObjects, true); }},
        {"EngineBlock/40x250/stereo/single",
         [](benchmark::State& s) { EngineBlock(s, kObjects, true, true); }},
        {"EngineTransferOnly/40x250/stereo",
         [](benchmark::State& s) { EngineTransferOnly(s, false); }},
        {"EngineTransferOnly/40x250/stereo/single",
         [](benchmark::State& s) { EngineTransferOnly(s, true); }},
        {"EngineResonatorsOnly/40x250/stereo",
         [](benchmark::State& s) { EngineBlock(s, kObjects, false); }},
    };
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(c.name, c.run)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
    }
    BlockTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf(
        "\nSummary (stereo, 220-frame blocks, %d sources per mode; processor time per block; "
        "share of one core = block time / 4.99 ms):\n",
        kSourcesPerMode);
    printf("%-36s %12s %12s\n", "case", "us/block", "core share");
    for (const Case& c : cases) {
        const auto found = reporter.secondsPerBlock.find(c.name);
        if (found == reporter.secondsPerBlock.end()) continue;
        printf("%-36s %12.1f %11.1f%%\n", c.name, 1e6 * found->second,
               100.0 * found->second / kBlockSeconds);
    }
    benchmark::Shutdown();
    return 0;
}
