// Cost of a moving contact against a strike on one engine object of 244 modes (log-spaced from
// 186 Hz to 7962 Hz, as the baked bell), mono, 220-frame blocks (200 transfer updates a second),
// one transfer source per mode: the block with a strike queued before every block (the held
// force path), the block with a scrape moved to a new point before every block, the same with a
// roll, and the contact's excitation alone (the profile read along the path for one block).
// Reports processor time per block; the contact's blocks against the strike's block are the
// figures docs/benchmarks.md gives.
//
//   build/bench/tonwell_contact_bench          (a few seconds)
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "geometry/listener_points.h"
#include "sound/contact_excitation.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr int kFrames = 220;
constexpr int kModes = 244;
const ListenerPoints kListener = {{0.5, 0.3, 1.0}, {0.4, 0.3, 1.0}, {0.6, 0.3, 1.0}};

struct OneObject {
    OneObject() : engine(1, 200) {
        TestSceneOptions options;
        options.frequencies = logSpacedFrequencies(kModes, 186.0, 7962.0);
        writeTestScene(dir.path(), 1, options);
        EngineObjectFiles files;
        files.modeShapeFile = dir.file("chair/chair.U");
        files.frequencyFile = dir.file("chair/chair.freq");
        files.transferListFile = dir.file("chair/chair-ZEPObjectsList-15.txt");
        files.transferBaseDirectory = dir.path();
        files.massDamping = 0.75;  // the bell's light damping
        files.stiffnessDamping = 4.68874e-8;
        std::string problem;
        engine.setListener(kListener);
        id = engine.addObject(engine.loadObject(files, &problem));
        out.assign(kFrames, 0.0f);
    }
    EngineObject& object() { return *engine.object(id); }
    TempDir dir;
    Engine engine;
    int id = -1;
    std::vector<float> out;
};

const double kDirection[3] = {0.0, 0.6, 0.8};

void BM_StrikeBlock(benchmark::State& state) {
    OneObject one;
    int vertex = 0;
    for (auto _ : state) {
        one.object().strike(vertex, kDirection, 1e-4);
        vertex = (vertex + 7) % 200;
        one.engine.render(one.out.data(), kFrames);
        benchmark::DoNotOptimize(one.out.data());
    }
}
BENCHMARK(BM_StrikeBlock)->Unit(benchmark::kMicrosecond);

void contactBlocks(benchmark::State& state, ContactKind kind) {
    OneObject one;
    int step = 0;
    for (auto _ : state) {
        // A new point and speed every block, as a drag or a path gives them.
        const double t = (step % 100) / 100.0;
        const SurfacePoint point{{step % 200, (step + 1) % 200, (step + 2) % 200},
                                 {1.0 - t, t, 0.0}};
        one.object().setContact(point, kDirection, 1e-4, 0.3 + 0.1 * t, kind,
                                kDefaultContactRoughness, kDefaultContactSlope,
                                kDefaultBallRadius_m);
        ++step;
        one.engine.render(one.out.data(), kFrames);
        benchmark::DoNotOptimize(one.out.data());
    }
}

void BM_ScrapeBlock(benchmark::State& state) { contactBlocks(state, ContactKind::kScrape); }
BENCHMARK(BM_ScrapeBlock)->Unit(benchmark::kMicrosecond);

void BM_RollBlock(benchmark::State& state) { contactBlocks(state, ContactKind::kRoll); }
BENCHMARK(BM_RollBlock)->Unit(benchmark::kMicrosecond);

void BM_ScrapeExcitationOnly(benchmark::State& state) {
    const RoughnessProfileDesign design =
        designRoughnessProfile(ContactKind::kScrape, kDefaultContactSlope, 0.0);
    ContactExcitation excitation;
    std::vector<double> signal(kFrames);
    for (auto _ : state) {
        excitation.generate(design, kDefaultContactRoughness, 0.3, 0.3, kFrames, signal.data());
        benchmark::DoNotOptimize(signal.data());
    }
}
BENCHMARK(BM_ScrapeExcitationOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
