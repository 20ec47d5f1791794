// Speed of the wave tier's solver (tools/bake/transfer/wave/wave_solver.h): steps of the bell's
// grid at ten cells per wavelength at 8 kHz, with ten modes driving its staircase boundary, on 1
// and 2 threads, with the second- and the fourth-order differences (the fourth's step is 6/7 of
// the second's, so it needs 7/6 as many steps for a run as long). Reports cell updates per second
// (wall clock) and per core (per second of the process's CPU time, which a machine shared with
// other work does not distort), and what share of the memory bandwidth that is: the bytes a cell
// update moves (the fused sweep reads p, u_x, u_y and u_z once and writes them once: 32 bytes with
// float32, counted as STREAM counts, without write-allocate) times the updates per second, over the
// bandwidth of a STREAM-like triad a[i] = b[i] + s c[i] on float arrays of 64 MB each (far beyond
// the caches), measured in the same process with the same thread count just before, by the same two
// clocks (at fourth order a cell update moves the same 32 bytes and computes about twice as much).
// Not part of the tests.
//
//   build/bench/tonwell_wave_bench          (about a minute)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/transfer/wave/boundary_faces.h"
#include "tools/bake/transfer/wave/voxelize.h"
#include "tools/bake/transfer/wave/wave_grid.h"
#include "tools/bake/transfer/wave/wave_solver.h"

namespace {

constexpr double kBytesPerCellUpdate = 32;  // the fused sweep, see above
constexpr int kModes = 10;

// Seconds of CPU time the whole process has used.
double processSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Wall-clock and CPU-time seconds of one call of `work`.
template <class Work>
std::pair<double, double> timed(const Work& work) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processSeconds();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            processSeconds() - cpuStart};
}

struct Bandwidth {
    double wall = 0, perCore = 0;  // bytes per second, per second of CPU time
};

// Best bandwidth of the triad a = b + s c over `threads` threads (three arrays of 16 M floats;
// 12 bytes moved per element).
Bandwidth triadBandwidth(int threads) {
    const size_t n = size_t(16) << 20;
    std::vector<float> a(n, 0.f), b(n, 1.f), c(n, 2.f);
    Bandwidth best;
    for (int repeat = 0; repeat < 8; ++repeat) {
        const auto [wall, cpu] = timed([&] {
            std::vector<std::thread> pool;
            for (int t = 0; t < threads; ++t)
                pool.emplace_back([&, t] {
                    const size_t begin = n * t / threads, end = n * (t + 1) / threads;
                    float* __restrict pa = a.data();
                    const float* __restrict pb = b.data();
                    const float* __restrict pc = c.data();
                    for (size_t i = begin; i < end; ++i) pa[i] = pb[i] + 3.f * pc[i];
                });
            for (std::thread& thread : pool) thread.join();
        });
        best.wall = std::max(best.wall, 12.0 * double(n) / wall);
        best.perCore = std::max(best.perCore, 12.0 * double(n) / cpu);
    }
    benchmark::DoNotOptimize(a.data());
    return best;
}

struct BellRun {
    WaveGrid grid;
    std::unique_ptr<WaveSolver> solver;
    int faces = 0;
};

// The bell on its grid (10 cells per wavelength at 8 kHz, the default layer and air margin) with
// kModes smooth velocity patterns.
BellRun& bellRun(int threads, int order) {
    static std::unique_ptr<BellRun> run;
    static int runThreads = 0, runOrder = 0;
    if (run && runThreads == threads && runOrder == order) return *run;
    const SurfaceMesh bell = makeBellSurface(BellParameters());
    Eigen::Vector3d lower, upper;
    boundingBox(bell, lower, upper);
    WaveSettings settings;
    settings.threads = threads;
    settings.spatialOrder = order;
    run = std::make_unique<BellRun>();
    run->grid = makeWaveGrid(lower, upper, 8000.0, settings);
    const std::vector<uint8_t> solid = voxelize(run->grid, bell);
    const std::vector<BoundaryFace> faces = findBoundaryFaces(run->grid, solid, bell, threads);
    Eigen::MatrixXd shapes(3 * Eigen::Index(bell.positions.size()), kModes);
    for (size_t v = 0; v < bell.positions.size(); ++v)
        for (int j = 0; j < kModes; ++j)
            shapes.block<3, 1>(3 * Eigen::Index(v), j) =
                std::cos((j + 1) * 7.0 * bell.positions[v].y()) * bell.positions[v].normalized();
    run->solver = std::make_unique<WaveSolver>(run->grid, solid, faces,
                                               faceVelocities(faces, bell, shapes), settings);
    run->faces = int(faces.size());
    runThreads = threads;
    runOrder = order;
    return *run;
}

Bandwidth triad[3];

void WaveSolverStep(benchmark::State& state) {
    const int threads = int(state.range(0));
    BellRun& run = bellRun(threads, int(state.range(1)));
    std::vector<double> weights(kModes);
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        const double t = (double(run.solver->stepCount()) + 0.5) * run.grid.dt;
        for (int j = 0; j < kModes; ++j)
            weights[size_t(j)] = std::cos(2 * kPi * (1000.0 + 600.0 * j) * t);
        const auto [stepWall, stepCpu] = timed([&] { run.solver->step(weights.data()); });
        wall += stepWall;
        cpu += stepCpu;
    }
    const double updates = double(run.grid.cellCount()) * double(state.iterations());
    state.counters["cells"] = double(run.grid.cellCount());
    state.counters["faces"] = run.faces;
    state.counters["updates/s"] = updates / wall;
    state.counters["updates/s/core"] = updates / cpu;
    state.counters["of_triad"] = updates / wall * kBytesPerCellUpdate / triad[threads].wall;
    state.counters["of_triad/core"] = updates / cpu * kBytesPerCellUpdate / triad[threads].perCore;
}
BENCHMARK(WaveSolverStep)
    ->ArgNames({"threads", "order"})
    ->Args({1, 2})
    ->Args({2, 2})
    ->Args({1, 4})
    ->Args({2, 4})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    for (int threads : {1, 2}) {
        triad[threads] = triadBandwidth(threads);
        std::printf("triad on %d thread%s: %.2f GB/s, %.2f GB per CPU second\n", threads,
                    threads > 1 ? "s" : "", triad[threads].wall * 1e-9,
                    triad[threads].perCore * 1e-9);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
