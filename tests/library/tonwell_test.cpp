// libtonwell's C interface (library/tonwell.h) on small scenes in the real file formats: every
// error path returns its code with a message that names the file or the argument, the process
// going on; strikes on two objects mix to the sum of each alone; the output does not depend on
// how the host cuts its buffers. (The bit-for-bit agreement with tonwell-render is in
// tests/library/render_agreement_test.cpp, which needs the program.)
#include "tonwell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "geometry/listener_points.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_presets.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr int kChair = 1;

// An engine that frees itself.
struct EngineHandle {
    explicit EngineHandle(int channels, int rate = 200) {
        EXPECT_EQ(tonwell_engine_create(channels, rate, &engine), TONWELL_OK);
    }
    ~EngineHandle() { tonwell_engine_destroy(engine); }
    tonwell_engine* engine = nullptr;
};

// A chair scene of the given frequencies in a scratch folder of its own.
struct ChairScene {
    explicit ChairScene(std::vector<double> frequencies = {310.0, 520.0, 870.0, 1330.0, 2050.0}) {
        TestSceneOptions options;
        options.frequencies = frequencies;
        options.sourceStrength = 300.0;
        writeTestScene(dir.path(), kChair, options);
    }
    std::string folder() const { return dir.file("chair"); }
    TempDir dir;
};

const double kEye[3] = {0.6, 0.3, 0.6};
const double kLeft[3] = {0.55, 0.3, 0.65};
const double kRight[3] = {0.65, 0.3, 0.55};
const double kDirection[3] = {0.2, -0.4, -1.0};

void placeListener(tonwell_engine* engine) {
    ASSERT_EQ(tonwell_engine_set_listener(engine, kEye, kLeft, kRight), TONWELL_OK);
}

std::vector<float> render(tonwell_engine* engine, long frames, int channels) {
    std::vector<float> out(static_cast<size_t>(frames) * channels);
    EXPECT_EQ(tonwell_engine_render(engine, out.data(), frames), TONWELL_OK);
    return out;
}

// `frames` mono frames at the listener of a fresh engine holding the scene's object, struck (or
// touched) by `strike` before the first block.
std::vector<float> playMono(const ChairScene& scene,
                            const std::function<void(tonwell_object*)>& strike, long frames) {
    EngineHandle e(1);
    placeListener(e.engine);
    tonwell_object* object = nullptr;
    EXPECT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
    strike(object);
    return render(e.engine, frames, 1);
}

double peakOf(const std::vector<float>& samples) {
    double peak = 0.0;
    for (float s : samples) peak = std::max(peak, std::fabs(static_cast<double>(s)));
    return peak;
}

// [SECTION] Errors

// A call that fails must return `code` and leave a message holding `named`.
void expectError(int result, int code, const std::string& named) {
    EXPECT_EQ(result, code) << tonwell_last_error_message();
    EXPECT_EQ(tonwell_last_error(), code);
    EXPECT_NE(std::string(tonwell_last_error_message()).find(named), std::string::npos)
        << "message: " << tonwell_last_error_message() << "\nexpected it to name: " << named;
}

TEST(TonwellErrors, BrokenSceneFilesReturnFileErrorsNamingTheFile) {
    EngineHandle e(1);
    tonwell_object* object = nullptr;

    TempDir missing;
    expectError(tonwell_object_load(e.engine, missing.file("chair").c_str(), &object),
                TONWELL_ERROR_FILE, missing.file("chair"));
    EXPECT_EQ(object, nullptr);

    TempDir unnamed;
    unnamed.write("ring/ring.U", "");
    expectError(tonwell_object_load(e.engine, unnamed.file("ring").c_str(), &object),
                TONWELL_ERROR_FILE, "presets.json");

    // Each file of the scene in turn missing, cut short or of the wrong shape.
    struct Breakage {
        const char* file;
        std::string bytes;  // empty: the file is removed
        const char* named;  // what the message must hold
    };
    const std::vector<Breakage> breakages = {
        {"chair/chair.U", "", "chair/chair.U"},
        {"chair/chair.U", denseMatrixBytes(6, 5, {1.0, 2.0}), "chair/chair.U"},
        {"chair/chair.freq", "", "chair/chair.freq"},
        {"chair/chair.freq", denseMatrixBytes(5, 2, std::vector<double>(10, 300.0)),
         "chair/chair.freq"},
        {"chair/chair.freq", denseMatrixBytes(4, 1, std::vector<double>(4, 300.0)),
         "chair/chair.freq"},
        {"chair/chair-ZEPObjectsList-15.txt", "", "chair/chair-ZEPObjectsList-15.txt"},
        {"chair/chair-ZEPObjectsList-15.txt", "chair/nothing-here\n", "chair/nothing-here.sources"},
    };
    for (const Breakage& b : breakages) {
        SCOPED_TRACE(std::string(b.file) + " broken");
        ChairScene scene;
        const std::string path = scene.dir.file(b.file);
        if (b.bytes.empty()) {
            std::remove(path.c_str());
        } else {
            scene.dir.write(b.file, b.bytes);
        }
        expectError(tonwell_object_load(e.engine, scene.folder().c_str(), &object),
                    TONWELL_ERROR_FILE, b.named);
        EXPECT_EQ(object, nullptr);
    }

    // A transfer list of fewer modes than the scene has.
    ChairScene scene;
    std::ifstream in(scene.dir.file("chair/chair-ZEPObjectsList-15.txt"));
    std::string first;
    std::getline(in, first);
    scene.dir.write("chair/chair-ZEPObjectsList-15.txt", first + "\n");
    expectError(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_ERROR_FILE,
                "chair/chair-ZEPObjectsList-15.txt");

    // A folder of one's own whose presets.json is broken.
    TempDir own;
    own.write("ring/presets.json", "{ \"format\": ");
    expectError(tonwell_object_load(e.engine, own.file("ring").c_str(), &object),
                TONWELL_ERROR_FILE, "ring/presets.json");

    // After all of it the engine still loads and plays a good scene.
    ChairScene good;
    ASSERT_EQ(tonwell_object_load(e.engine, good.folder().c_str(), &object), TONWELL_OK);
    EXPECT_NE(object, nullptr);
}

TEST(TonwellErrors, BadArgumentsAndFullQueuesReturnTheirCodes) {
    EngineHandle e(1);
    tonwell_engine* none = nullptr;
    expectError(tonwell_engine_create(3, 200, &none), TONWELL_ERROR_ARGUMENT, "channels");
    expectError(tonwell_engine_create(1, 99, &none), TONWELL_ERROR_ARGUMENT, "rate");
    expectError(tonwell_engine_create(1, 200, nullptr), TONWELL_ERROR_ARGUMENT, "null");
    expectError(tonwell_engine_set_renderer(e.engine, 7), TONWELL_ERROR_ARGUMENT, "renderer");
    expectError(tonwell_engine_set_impact_duration(e.engine, 0), TONWELL_ERROR_ARGUMENT,
                "1 .. 256");
    const double nan3[3] = {NAN, 0, 0};
    expectError(tonwell_engine_set_listener(e.engine, nan3, kLeft, kRight), TONWELL_ERROR_ARGUMENT,
                "finite");
    float sample = 0.0f;
    EXPECT_EQ(tonwell_engine_render(nullptr, &sample, 1), TONWELL_ERROR_ARGUMENT);
    EXPECT_EQ(tonwell_engine_render(e.engine, nullptr, 1), TONWELL_ERROR_ARGUMENT);

    ChairScene scene;
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
    int vertices = 0, modes = 0;
    ASSERT_EQ(tonwell_object_vertex_count(object, &vertices), TONWELL_OK);
    ASSERT_EQ(tonwell_object_mode_count(object, &modes), TONWELL_OK);
    EXPECT_EQ(modes, 5);
    expectError(tonwell_object_strike(object, vertices, kDirection, 1.0), TONWELL_ERROR_ARGUMENT,
                "vertex " + std::to_string(vertices));
    expectError(tonwell_object_strike(object, 0, kDirection, -1.0), TONWELL_ERROR_ARGUMENT,
                "magnitude");
    // Critical damping of the lowest mode (xi = alpha / (2 omega) = 1) is refused, and the
    // object keeps ringing with its old damping.
    expectError(tonwell_object_set_damping(object, 2.0 * 310.0 * 6.28318530717958, 0.0),
                TONWELL_ERROR_ARGUMENT, "mode 0");
    EXPECT_EQ(tonwell_object_set_damping(object, 1.0, 1e-7), TONWELL_OK);

    // The strike queue holds 256 strikes between two blocks.
    int accepted = 0, result = TONWELL_OK;
    while ((result = tonwell_object_strike(object, 0, kDirection, 1.0)) == TONWELL_OK) ++accepted;
    EXPECT_EQ(accepted, 256);
    expectError(result, TONWELL_ERROR_FULL, "256 strikes");
    render(e.engine, 220, 1);
    EXPECT_EQ(tonwell_object_strike(object, 0, kDirection, 1.0), TONWELL_OK);

    // 64 objects at most.
    std::vector<tonwell_object*> more;
    for (;;) {
        tonwell_object* next = nullptr;
        result = tonwell_object_load(e.engine, scene.folder().c_str(), &next);
        if (result != TONWELL_OK) break;
        more.push_back(next);
    }
    EXPECT_EQ(more.size(), 63u);
    expectError(result, TONWELL_ERROR_FULL, "64 objects");
    for (tonwell_object* o : more) EXPECT_EQ(tonwell_object_unload(o), TONWELL_OK);
    EXPECT_EQ(tonwell_error_name(TONWELL_ERROR_FULL), std::string("TONWELL_ERROR_FULL"));
}

// [SECTION] Threads

// The interface's threading contract with real threads: the control calls on this thread, load,
// strike, move, unload, while another thread calls tonwell_engine_render without pause (run
// under ThreadSanitizer by scripts/test).
TEST(TonwellThreads, ControlCallsWhileAnotherThreadRenders) {
    ChairScene first, second({400.0, 990.0, 1500.0});
    EngineHandle e(2);
    placeListener(e.engine);
    tonwell_object* resident = nullptr;
    ASSERT_EQ(tonwell_object_load(e.engine, first.folder().c_str(), &resident), TONWELL_OK);

    std::atomic<bool> stop{false};
    std::atomic<long> renders{0};
    std::atomic<int> failures{0};
    double loudest = 0.0;
    std::thread audio([&] {
        std::vector<float> out(2 * 300);
        while (!stop.load(std::memory_order_acquire)) {
            if (tonwell_engine_render(e.engine, out.data(), 300) != TONWELL_OK) ++failures;
            for (float s : out) {
                if (!(std::fabs(s) <= 1.0f)) ++failures;
                loudest = std::max(loudest, static_cast<double>(std::fabs(s)));
            }
            renders.fetch_add(1, std::memory_order_release);
        }
    });
    auto waitForRender = [&] {
        const long target = renders.load(std::memory_order_acquire) + 1;
        while (renders.load(std::memory_order_acquire) < target) std::this_thread::yield();
    };
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int round = 0; round < 40; ++round) {
        tonwell_object* visitor = nullptr;
        ASSERT_EQ(tonwell_object_load(e.engine, second.folder().c_str(), &visitor), TONWELL_OK)
            << tonwell_last_error_message();
        const double translation[3] = {0.02 * round, 0.0, 0.0};
        EXPECT_EQ(tonwell_object_set_pose(visitor, translation, identity), TONWELL_OK);
        EXPECT_EQ(tonwell_object_strike(visitor, round, kDirection, 1.0), TONWELL_OK);
        EXPECT_EQ(tonwell_object_strike(resident, 2 * round, kDirection, 0.5), TONWELL_OK);
        EXPECT_EQ(tonwell_object_set_gain(resident, 1.0 - 0.01 * round), TONWELL_OK);
        EXPECT_EQ(tonwell_engine_set_renderer(e.engine, round % 2), TONWELL_OK);
        if (round % 3 != 0) waitForRender();
        EXPECT_EQ(tonwell_object_unload(visitor), TONWELL_OK);
    }
    waitForRender();
    stop.store(true, std::memory_order_release);
    audio.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(loudest, 1e-4);
}

// [SECTION] The mix

TEST(TonwellMix, TwoObjectsMixToTheSumOfEachAlone) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels == 1 ? "mono" : "stereo");
        ChairScene first({310.0, 870.0, 2050.0});
        ChairScene second({440.0, 1100.0, 3000.0, 4100.0});
        const double translation[3] = {0.1, 0.0, -0.2};
        const double rotation[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
        // Each object alone, struck at frames 0 and 2200, then both in one engine.
        auto play = [&](bool withFirst, bool withSecond) {
            EngineHandle e(channels);
            placeListener(e.engine);
            tonwell_object *a = nullptr, *b = nullptr;
            if (withFirst) {
                EXPECT_EQ(tonwell_object_load(e.engine, first.folder().c_str(), &a), TONWELL_OK);
                EXPECT_EQ(tonwell_object_set_gain(a, 0.5), TONWELL_OK);
            }
            if (withSecond) {
                EXPECT_EQ(tonwell_object_load(e.engine, second.folder().c_str(), &b), TONWELL_OK);
                EXPECT_EQ(tonwell_object_set_pose(b, translation, rotation), TONWELL_OK);
            }
            if (a) {
                EXPECT_EQ(tonwell_object_strike(a, 3, kDirection, 1.0), TONWELL_OK);
            }
            std::vector<float> out = render(e.engine, 2200, channels);
            if (b) {
                EXPECT_EQ(tonwell_object_strike(b, 17, kDirection, 2.0), TONWELL_OK);
            }
            std::vector<float> rest = render(e.engine, 6600, channels);
            out.insert(out.end(), rest.begin(), rest.end());
            return out;
        };
        const std::vector<float> a = play(true, false);
        const std::vector<float> b = play(false, true);
        const std::vector<float> both = play(true, true);
        ASSERT_GT(peakOf(a), 1e-3);
        ASSERT_GT(peakOf(b), 1e-3);
        ASSERT_LT(peakOf(both), 1.0);  // no clipping: the sum holds
        double worst = 0.0;
        for (size_t i = 0; i < both.size(); ++i) {
            // Each of the three floats is its double sample rounded once, within 2^-24 of it
            // relative: together at most 2^-24 (|A + B| + |A| + |B|) <= 2^-23 (|a| + |b|).
            const double tolerance = 0x1p-23 * (std::fabs(a[i]) + std::fabs(b[i])) + 1e-38;
            worst = std::max(worst, std::fabs(both[i] - (double(a[i]) + double(b[i]))) / tolerance);
        }
        EXPECT_LE(worst, 1.0);
        // The second object is silent before its strike: the mix is the first one's there.
        for (size_t i = 0; i < 2200u * channels; ++i) ASSERT_EQ(both[i], a[i]) << i;
    }
}

// A strike at a point inside a triangle is the three corners' strikes in the weights'
// proportions (the mode shapes interpolated linearly); with the three corners one vertex it is
// that vertex's strike bit for bit; bad weights and corners are refused with their messages.
// The transfer in single precision: a strike on forty modes of twenty sources each, heard in
// stereo, renders within 1e-4 of the double-precision render's peak, and not bit for bit (the
// setting takes effect); bad arguments are refused.
TEST(TonwellMix, SinglePrecisionTransferRendersWithinItsBound) {
    TempDir dir;
    TestSceneOptions options;
    options.frequencies = logSpacedFrequencies(40, 150.0, 9000.0);
    options.sourcesPerMode = 20;
    options.sourceStrength = 300.0;
    writeTestScene(dir.path(), kChair, options);
    std::vector<float> renders[2];
    for (int single = 0; single < 2; ++single) {
        EngineHandle handle(2);
        placeListener(handle.engine);
        ASSERT_EQ(tonwell_engine_set_single_precision_transfer(handle.engine, single), TONWELL_OK);
        tonwell_object* object = nullptr;
        ASSERT_EQ(tonwell_object_load(handle.engine, dir.file("chair").c_str(), &object),
                  TONWELL_OK);
        ASSERT_EQ(tonwell_object_strike(object, 12, kDirection, 0.05), TONWELL_OK);
        renders[single] = render(handle.engine, 22050, 2);
    }
    const double peak = peakOf(renders[0]);
    ASSERT_GT(peak, 1e-3);
    double largest = 0.0;
    for (size_t i = 0; i < renders[0].size(); ++i)
        largest = std::max(largest, std::fabs(double(renders[1][i]) - renders[0][i]));
    EXPECT_LT(largest, 1e-4 * peak);
    EXPECT_GT(largest, 0.0);

    EngineHandle handle(1);
    expectError(tonwell_engine_set_single_precision_transfer(handle.engine, 2),
                TONWELL_ERROR_ARGUMENT, "0 or 1");
    expectError(tonwell_engine_set_single_precision_transfer(nullptr, 1), TONWELL_ERROR_ARGUMENT,
                "null");
}

TEST(TonwellStrike, PointInATriangleIsItsCornersStrikesInTheWeightsProportions) {
    ChairScene scene;
    auto play = [&](const std::function<void(tonwell_object*)>& strike) {
        return playMono(scene, strike, 4410);
    };
    const int corners[3] = {3, 17, 40};
    const double weights[3] = {0.5, 0.3, 0.2};
    const std::vector<float> point = play([&](tonwell_object* o) {
        EXPECT_EQ(tonwell_object_strike_point(o, corners, weights, kDirection, 1.5), TONWELL_OK);
    });
    const std::vector<float> split = play([&](tonwell_object* o) {
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(tonwell_object_strike(o, corners[k], kDirection, 1.5 * weights[k]),
                      TONWELL_OK);
    });
    ASSERT_GT(peakOf(point), 1e-3);
    for (size_t i = 0; i < point.size(); ++i)
        ASSERT_NEAR(point[i], split[i], 1e-6 * peakOf(point)) << i;
    // Not the nearest corner's strike alone: the other two corners count.
    const std::vector<float> nearest = play([&](tonwell_object* o) {
        EXPECT_EQ(tonwell_object_strike(o, corners[0], kDirection, 1.5), TONWELL_OK);
    });
    double difference = 0;
    for (size_t i = 0; i < point.size(); ++i)
        difference = std::max(difference, std::fabs(double(point[i]) - nearest[i]));
    EXPECT_GT(difference, 0.05 * peakOf(point));

    const int vertex[3] = {17, 17, 17};
    const double any[3] = {0.2, 0.2, 0.6};
    EXPECT_EQ(play([&](tonwell_object* o) {
                  EXPECT_EQ(tonwell_object_strike_point(o, vertex, any, kDirection, 1.5),
                            TONWELL_OK);
              }),
              play([&](tonwell_object* o) {
                  EXPECT_EQ(tonwell_object_strike(o, 17, kDirection, 1.5), TONWELL_OK);
              }));

    EngineHandle e(1);
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
    const double negative[3] = {1.2, -0.1, -0.1};
    const double short_[3] = {0.3, 0.3, 0.3};
    const int outside[3] = {3, 17, 1000000};
    expectError(tonwell_object_strike_point(object, corners, negative, kDirection, 1.0),
                TONWELL_ERROR_ARGUMENT, "sum to 1");
    expectError(tonwell_object_strike_point(object, corners, short_, kDirection, 1.0),
                TONWELL_ERROR_ARGUMENT, "sum to 1");
    expectError(tonwell_object_strike_point(object, outside, weights, kDirection, 1.0),
                TONWELL_ERROR_ARGUMENT, "vertex 1000000 has no mode shape");
    expectError(tonwell_object_strike_point(object, nullptr, weights, kDirection, 1.0),
                TONWELL_ERROR_ARGUMENT, "tonwell_object_strike_point");
}

// A strike's own duration: the force of a rectangular pulse of d samples leaves a mode of step
// factor E = exp(lambda dt) with the complex amplitude G f E^m (1 - E^-d) / (E - 1) at sample
// m >= d, so two durations' levels differ by 20 log10 |1 - E^-d2| / |1 - E^-d1|, whatever the
// mode shape or the transfer. Strikes of different durations in one block sound as the sum of
// each alone; the engine's duration asked for by name is the plain strike.
TEST(TonwellStrike, OwnDurationActsAsARectangularPulse) {
    const std::vector<double> hz = {310.0, 520.0, 870.0, 1330.0, 2050.0};
    ChairScene scene(hz);
    const double alpha = 2.0, beta = 2e-7;
    const int corners[3] = {3, 17, 40};
    const double weights[3] = {0.5, 0.3, 0.2};
    auto levelsAfter = [&](int samples) {
        EngineHandle e(1);
        placeListener(e.engine);
        tonwell_object* object = nullptr;
        EXPECT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
        EXPECT_EQ(tonwell_object_set_damping(object, alpha, beta), TONWELL_OK);
        EXPECT_EQ(tonwell_object_watch_levels(object, 1), TONWELL_OK);
        EXPECT_EQ(tonwell_object_strike_for(object, corners, weights, kDirection, 1.0, samples),
                  TONWELL_OK);
        render(e.engine, 3 * 220, 1);
        std::vector<double> levels(hz.size());
        int count = 0;
        EXPECT_EQ(tonwell_object_levels(object, levels.data(), int(hz.size()), &count), TONWELL_OK);
        EXPECT_EQ(count, int(hz.size()));
        return levels;
    };
    const int shortPulse = 1, longPulse = 40;
    const std::vector<double> tap = levelsAfter(shortPulse), push = levelsAfter(longPulse);
    for (size_t i = 0; i < hz.size(); ++i) {
        const double omega = 2.0 * M_PI * hz[i], dt = 1.0 / 44100.0;
        const double zeta = (alpha + beta * omega * omega) / (2.0 * omega);
        const std::complex<double> lambda(-zeta * omega, omega * std::sqrt(1.0 - zeta * zeta));
        auto pulse = [&](int d) { return std::abs(1.0 - std::exp(-lambda * dt * double(d))); };
        const double expected = 20.0 * std::log10(pulse(longPulse) / pulse(shortPulse));
        EXPECT_NEAR(push[i] - tap[i], expected, 0.01) << hz[i] << " Hz";
    }
    // The long push gains about 31 dB over the tap at 310 Hz and only 9 dB at 2.05 kHz.
    EXPECT_GT((push[0] - tap[0]) - (push[4] - tap[4]), 5.0);

    auto play = [&](const std::function<void(tonwell_object*)>& strike) {
        return playMono(scene, strike, 2205);
    };
    const int a[3] = {5, 5, 5}, b[3] = {9, 22, 31};
    const double one[3] = {1.0, 0.0, 0.0};
    auto strikeA = [&](tonwell_object* o) {
        EXPECT_EQ(tonwell_object_strike_for(o, a, one, kDirection, 1.0, 5), TONWELL_OK);
    };
    auto strikeB = [&](tonwell_object* o) {
        EXPECT_EQ(tonwell_object_strike_for(o, b, weights, kDirection, 0.7, 120), TONWELL_OK);
    };
    auto strikeC = [&](tonwell_object* o) {
        EXPECT_EQ(tonwell_object_strike(o, 12, kDirection, 0.4), TONWELL_OK);
    };
    const std::vector<float> together = play([&](tonwell_object* o) {
        strikeB(o);
        strikeA(o);
        strikeC(o);
    });
    const std::vector<float> alone[3] = {play(strikeA), play(strikeB), play(strikeC)};
    ASSERT_GT(peakOf(together), 1e-3);
    for (size_t i = 0; i < together.size(); ++i) {
        ASSERT_NEAR(together[i], alone[0][i] + alone[1][i] + alone[2][i], 1e-6 * peakOf(together))
            << i;
    }
    // The engine's own duration (10 samples at start), asked for by name, is the plain strike.
    EXPECT_EQ(play([&](tonwell_object* o) {
                  EXPECT_EQ(tonwell_object_strike_for(o, b, weights, kDirection, 0.7, 10),
                            TONWELL_OK);
              }),
              play([&](tonwell_object* o) {
                  EXPECT_EQ(tonwell_object_strike_point(o, b, weights, kDirection, 0.7),
                            TONWELL_OK);
              }));

    EngineHandle e(1);
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
    expectError(tonwell_object_strike_for(object, b, weights, kDirection, 1.0, 0),
                TONWELL_ERROR_ARGUMENT, "samples 0 is not in 1 .. 256");
    expectError(tonwell_object_strike_for(object, b, weights, kDirection, 1.0, 257),
                TONWELL_ERROR_ARGUMENT, "samples 257");
}

// The head's pose places the ears as the demo's camera does: with the camera's eye, its view
// direction and the world's up, a stereo render equals the one at the camera's published ear
// points (to the rounding of the two ways of forming them).
TEST(TonwellListener, PoseOfTheHeadPlacesTheEarsAsTheCamera) {
    ChairScene scene;
    const double focus[3] = {0.0, 0.1, 0.0}, up[3] = {0.0, 1.0, 0.0};
    OrbitCamera camera(0.9, 0.7, 0.3, focus, up, 0.05);
    const ListenerPoints published = publishedListener.load();
    auto play = [&](bool byPose) {
        EngineHandle e(2);
        if (byPose) {
            const double forward[3] = {focus[0] - published.eye[0], focus[1] - published.eye[1],
                                       focus[2] - published.eye[2]};
            EXPECT_EQ(tonwell_engine_set_listener_pose(e.engine, published.eye, forward, up),
                      TONWELL_OK);
        } else {
            EXPECT_EQ(tonwell_engine_set_listener(e.engine, published.eye, published.leftEar,
                                                  published.rightEar),
                      TONWELL_OK);
        }
        tonwell_object* object = nullptr;
        EXPECT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
        EXPECT_EQ(tonwell_object_strike(object, 9, kDirection, 1.0), TONWELL_OK);
        return render(e.engine, 4410, 2);
    };
    const std::vector<float> atEars = play(false), byPose = play(true);
    ASSERT_GT(peakOf(atEars), 1e-3);
    for (size_t i = 0; i < atEars.size(); ++i) {
        ASSERT_NEAR(byPose[i], atEars[i], 1e-9 + 1e-6 * std::fabs(atEars[i])) << i;
    }
    // The left ear hears a source on the left louder: object to the left of the head.
    const double ahead[3] = {0.0, 0.0, -1.0};
    const double origin[3] = {0.0, 0.0, 0.0};
    EngineHandle e(2);
    EXPECT_EQ(tonwell_engine_set_listener_pose(e.engine, origin, ahead, up), TONWELL_OK);
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double toTheLeft[3] = {-0.5, 0.0, 0.0};
    ASSERT_EQ(tonwell_object_set_pose(object, toTheLeft, identity), TONWELL_OK);
    ASSERT_EQ(tonwell_object_strike(object, 9, kDirection, 1.0), TONWELL_OK);
    const std::vector<float> out = render(e.engine, 4410, 2);
    double leftEnergy = 0.0, rightEnergy = 0.0;
    for (size_t i = 0; i < out.size(); i += 2) {
        leftEnergy += double(out[i]) * out[i];
        rightEnergy += double(out[i + 1]) * out[i + 1];
    }
    EXPECT_GT(leftEnergy, 1.2 * rightEnergy);
    expectError(tonwell_engine_set_listener_pose(e.engine, origin, up, up), TONWELL_ERROR_ARGUMENT,
                "parallel");
}

TEST(TonwellMix, SamplesDoNotDependOnHowTheHostCutsItsBuffers) {
    ChairScene scene;
    auto play = [&](const std::vector<long>& cuts) {
        EngineHandle e(2, 150);  // blocks of 294 frames
        placeListener(e.engine);
        tonwell_object* object = nullptr;
        EXPECT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
        EXPECT_EQ(tonwell_object_strike(object, 5, kDirection, 1.0), TONWELL_OK);
        std::vector<float> out;
        long total = 0;
        for (size_t i = 0; total < 8820; ++i) {
            const long frames = std::min(cuts[i % cuts.size()], 8820 - total);
            std::vector<float> part = render(e.engine, frames, 2);
            out.insert(out.end(), part.begin(), part.end());
            total += frames;
        }
        return out;
    };
    const std::vector<float> whole = play({8820});
    ASSERT_GT(peakOf(whole), 1e-3);
    EXPECT_EQ(play({1}), whole);
    EXPECT_EQ(play({64, 0, 333, 294}), whole);
    EXPECT_EQ(play({1000}), whole);
}

}  // namespace

// [SECTION] Queries

TEST(TonwellQueries, FrequenciesAreTheScenesAndLevelsRiseWithAStrikeThenDecay) {
    const std::vector<double> hz = {310.0, 520.0, 870.0, 1330.0, 2050.0};
    ChairScene scene(hz);
    EngineHandle e(2);
    placeListener(e.engine);
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);

    // Frequencies: exactly the .freq file's, cut to the capacity given.
    std::vector<double> got(hz.size(), -1.0);
    int count = 0;
    ASSERT_EQ(tonwell_object_frequencies(object, got.data(), 5, &count), TONWELL_OK);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(got, hz);
    std::vector<double> two = {-1.0, -1.0, -1.0};
    ASSERT_EQ(tonwell_object_frequencies(object, two.data(), 2, nullptr), TONWELL_OK);
    EXPECT_EQ(two, (std::vector<double>{310.0, 520.0, -1.0}));

    // Levels: nothing measured before a watched block; silence at the floor; a strike raises
    // the modes it excites (the synthetic scene's vertex 3 lies on a node of some), and each
    // of those has decayed half a second later.
    std::vector<double> levels(hz.size());
    ASSERT_EQ(tonwell_object_levels(object, levels.data(), 5, &count), TONWELL_OK);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(tonwell_object_watch_levels(object, 1), TONWELL_OK);
    render(e.engine, 220, 2);
    ASSERT_EQ(tonwell_object_levels(object, levels.data(), 5, &count), TONWELL_OK);
    ASSERT_EQ(count, 5);
    for (double level : levels) EXPECT_EQ(level, -200.0);
    ASSERT_EQ(tonwell_object_strike(object, 3, kDirection, 1.0), TONWELL_OK);
    render(e.engine, 440, 2);
    std::vector<double> struck(hz.size());
    ASSERT_EQ(tonwell_object_levels(object, struck.data(), 5, &count), TONWELL_OK);
    EXPECT_GE(std::count_if(struck.begin(), struck.end(), [](double l) { return l > -150.0; }),
              3);
    render(e.engine, 22050, 2);
    std::vector<double> later(hz.size());
    ASSERT_EQ(tonwell_object_levels(object, later.data(), 5, &count), TONWELL_OK);
    for (size_t i = 0; i < hz.size(); ++i) {
        if (struck[i] > -150.0) {
            EXPECT_LT(later[i], struck[i] - 1.0) << hz[i] << " Hz";
        }
    }

    expectError(tonwell_object_levels(object, nullptr, 5, &count), TONWELL_ERROR_ARGUMENT,
                "tonwell_object_levels");
    expectError(tonwell_object_frequencies(object, got.data(), -1, &count),
                TONWELL_ERROR_ARGUMENT, "capacity");
}

// [SECTION] Moving contacts

// The C interface's contact is the engine object's: the same samples as a contact set on the
// object directly, silence after it is lifted and the modes have rung out, and each bad argument
// refused with its message.
TEST(TonwellContact, PlaysTheEngineObjectsContactAndRefusesBadArguments) {
    ChairScene scene;
    const int vertices[3] = {4, 9, 10};
    const double weights[3] = {0.5, 0.25, 0.25};
    EngineHandle viaC(1);
    placeListener(viaC.engine);
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(viaC.engine, scene.folder().c_str(), &object), TONWELL_OK);
    ASSERT_EQ(tonwell_object_contact(object, TONWELL_CONTACT_ROLL, vertices, weights, kDirection,
                                     0.05, 0.4, 0.018, 1.5, 0.008),
              TONWELL_OK);
    const std::vector<float> rolled = render(viaC.engine, 8820, 1);
    EXPECT_GT(peakOf(rolled), 1e-5);
    ASSERT_EQ(tonwell_object_contact_end(object), TONWELL_OK);
    render(viaC.engine, 44100 * 3, 1);
    EXPECT_LT(peakOf(render(viaC.engine, 4410, 1)), 1e-6);

    // The same contact on an engine object of its own.
    Engine engine(1, 200);
    ListenerPoints listener;
    for (int k = 0; k < 3; ++k) {
        listener.eye[k] = kEye[k];
        listener.leftEar[k] = kLeft[k];
        listener.rightEar[k] = kRight[k];
    }
    engine.setListener(listener);
    EngineObjectFiles files;
    files.modeShapeFile = scene.dir.file("chair/chair.U");
    files.frequencyFile = scene.dir.file("chair/chair.freq");
    files.transferListFile = scene.dir.file("chair/chair-ZEPObjectsList-15.txt");
    files.transferBaseDirectory = scene.dir.path();
    const SceneParameters& chair = *scenePreset(kChair);
    files.massDamping = chair.massDamping;
    files.stiffnessDamping = chair.stiffnessDamping;
    std::string problem;
    const int id = engine.addObject(engine.loadObject(files, &problem));
    ASSERT_GE(id, 0) << problem;
    const SurfacePoint point{{4, 9, 10}, {0.5, 0.25, 0.25}};
    engine.object(id)->setContact(point, kDirection, 0.05, 0.4, ContactKind::kRoll, 0.018, 1.5,
                                  0.008);
    std::vector<float> direct(8820);
    engine.render(direct.data(), 8820);
    EXPECT_EQ(direct, rolled);

    const double nan3[3] = {NAN, 0, 0};
    const double badWeights[3] = {0.5, 0.6, -0.1};
    const int outside[3] = {0, 1, 100000};
    auto contact = [&](int kind, const int* v, const double* w, const double* d, double force,
                       double speed, double roughness, double slope, double radius) {
        return tonwell_object_contact(object, kind, v, w, d, force, speed, roughness, slope,
                                      radius);
    };
    expectError(contact(2, vertices, weights, kDirection, 1, 1, 0.1, 1, 0.01),
                TONWELL_ERROR_ARGUMENT, "kind");
    expectError(contact(0, vertices, badWeights, kDirection, 1, 1, 0.1, 1, 0.01),
                TONWELL_ERROR_ARGUMENT, "weights");
    expectError(contact(0, vertices, weights, nan3, 1, 1, 0.1, 1, 0.01), TONWELL_ERROR_ARGUMENT,
                "finite");
    expectError(contact(0, outside, weights, kDirection, 1, 1, 0.1, 1, 0.01),
                TONWELL_ERROR_ARGUMENT, "vertex 100000");
    expectError(contact(0, vertices, weights, kDirection, -1, 1, 0.1, 1, 0.01),
                TONWELL_ERROR_ARGUMENT, "force");
    expectError(contact(0, vertices, weights, kDirection, 1, -1, 0.1, 1, 0.01),
                TONWELL_ERROR_ARGUMENT, "speed");
    expectError(contact(0, vertices, weights, kDirection, 1, 1, 0.1, 2.5, 0.01),
                TONWELL_ERROR_ARGUMENT, "slope");
    expectError(contact(1, vertices, weights, kDirection, 1, 1, 0.1, 1, 0.0),
                TONWELL_ERROR_ARGUMENT, "radius");
    expectError(tonwell_object_contact_end(nullptr), TONWELL_ERROR_ARGUMENT, "null");

    // The object's default roughness is the engine object's, computed at loading.
    double roughness = 0.0;
    ASSERT_EQ(tonwell_object_contact_roughness(object, &roughness), TONWELL_OK);
    EXPECT_EQ(roughness, engine.object(id)->contactRoughness());
    EXPECT_GT(roughness, 0.0);
    expectError(tonwell_object_contact_roughness(object, nullptr), TONWELL_ERROR_ARGUMENT, "null");
}

// [SECTION] Binaural output

// The surface query a host follows a path with: on the test scene's sphere (radius 0.2 m about
// the object's origin) the nearest point to a position outside or inside it lies on the sphere
// in the position's direction, with the facet's outward normal; its result drives a contact; bad
// arguments and a mesh that went missing are refused with their messages.
TEST(TonwellContact, SurfacePointIsTheNearestPointOfTheMesh) {
    ChairScene scene;
    const std::vector<std::array<float, 3>> corners =
        readObjVertices(scene.dir.file("chair/chair.obj"));
    ASSERT_GT(corners.size(), 100u);
    EngineHandle handle(1);
    placeListener(handle.engine);
    tonwell_object* object = nullptr;
    ASSERT_EQ(tonwell_object_load(handle.engine, scene.folder().c_str(), &object), TONWELL_OK);
    const double directions[4][3] = {{1, 0, 0}, {0, -1, 0}, {0.6, 0.0, 0.8}, {-0.48, 0.6, -0.64}};
    for (const auto& d : directions) {
        for (double distance : {0.5, 0.1}) {
            const double position[3] = {distance * d[0], distance * d[1], distance * d[2]};
            int v[3];
            double w[3], n[3];
            ASSERT_EQ(tonwell_object_surface_point(object, position, v, w, n), TONWELL_OK);
            double p[3] = {0, 0, 0};
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(v[k], 0);
                ASSERT_LT(v[k], int(corners.size()));
                EXPECT_GE(w[k], 0.0);
                for (int a = 0; a < 3; ++a) p[a] += w[k] * corners[size_t(v[k])][size_t(a)];
            }
            EXPECT_NEAR(w[0] + w[1] + w[2], 1.0, 1e-12);
            const double radius = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
            EXPECT_GT(radius, 0.19);
            EXPECT_LT(radius, 0.2 + 1e-6);
            EXPECT_GT((p[0] * d[0] + p[1] * d[1] + p[2] * d[2]) / radius, 0.99);
            EXPECT_GT(n[0] * d[0] + n[1] * d[1] + n[2] * d[2], 0.95);
            EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-9);
        }
    }
    const double outside[3] = {0.0, 0.4, 0.0};
    int v[3];
    double w[3], n[3];
    ASSERT_EQ(tonwell_object_surface_point(object, outside, v, w, n), TONWELL_OK);
    ASSERT_EQ(tonwell_object_contact(object, TONWELL_CONTACT_SCRAPE, v, w, n, 0.05, 0.3, 0.05, 1.5,
                                     0.008),
              TONWELL_OK);
    EXPECT_GT(peakOf(render(handle.engine, 8820, 1)), 1e-5);

    const double nan3[3] = {NAN, 0, 0};
    expectError(tonwell_object_surface_point(object, nan3, v, w, n), TONWELL_ERROR_ARGUMENT,
                "finite");
    expectError(tonwell_object_surface_point(object, outside, nullptr, w, n),
                TONWELL_ERROR_ARGUMENT, "null");
    // Another object of the same folder whose mesh is gone before its first query.
    tonwell_object* second = nullptr;
    ASSERT_EQ(tonwell_object_load(handle.engine, scene.folder().c_str(), &second), TONWELL_OK);
    ASSERT_EQ(std::remove(scene.dir.file("chair/chair.obj").c_str()), 0);
    expectError(tonwell_object_surface_point(second, outside, v, w, n), TONWELL_ERROR_FILE,
                "chair.obj");
}

TEST(TonwellBinaural, BadFilesAndMonoEnginesAreRefusedAndTheOutputStaysAsItWas) {
    TempDir dir;
    EngineHandle mono(1), stereo(2);
    expectError(tonwell_engine_set_binaural(mono.engine, 1, nullptr), TONWELL_ERROR_ARGUMENT,
                "2 channels");
    expectError(tonwell_engine_set_binaural(nullptr, 1, nullptr), TONWELL_ERROR_ARGUMENT, "null");
    const std::string missing = dir.file("no-such.sofa");
    expectError(tonwell_engine_set_binaural(stereo.engine, 1, missing.c_str()), TONWELL_ERROR_FILE,
                missing);
    const std::string text = dir.write("head.sofa", "plain text, no HDF5 in sight\n");
    expectError(tonwell_engine_set_binaural(stereo.engine, 1, text.c_str()), TONWELL_ERROR_FILE,
                text);
    EXPECT_EQ(tonwell_engine_set_binaural(stereo.engine, 0, nullptr), TONWELL_OK);
}

TEST(TonwellBinaural, TurningTheHeadMovesTheLouderEar) {
    FILE* probe = fopen(TONWELL_DEFAULT_HRTF_FILE, "rb");
    if (probe == nullptr) GTEST_SKIP() << TONWELL_DEFAULT_HRTF_FILE << " is not installed";
    fclose(probe);
    ChairScene scene({1800.0, 3300.0});
    // The head 0.7 m from the chair along +z, facing it, then turned 90 degrees either way.
    const double position[3] = {0.0, 0.0, 0.7}, up[3] = {0.0, 1.0, 0.0};
    auto earEnergies = [&](const double forward[3], double energy[2]) {
        EngineHandle e(2);
        ASSERT_EQ(tonwell_engine_set_binaural(e.engine, 1, nullptr), TONWELL_OK)
            << tonwell_last_error_message();
        ASSERT_EQ(tonwell_engine_set_listener_pose(e.engine, position, forward, up), TONWELL_OK);
        tonwell_object* object = nullptr;
        ASSERT_EQ(tonwell_object_load(e.engine, scene.folder().c_str(), &object), TONWELL_OK);
        ASSERT_EQ(tonwell_object_strike(object, 9, kDirection, 1.0), TONWELL_OK);
        const std::vector<float> out = render(e.engine, 8820, 2);
        energy[0] = energy[1] = 0.0;
        for (size_t i = 0; i < out.size(); ++i) energy[i % 2] += double(out[i]) * out[i];
    };
    const double turnedLeft[3] = {-1.0, 0.0, 0.0}, turnedRight[3] = {1.0, 0.0, 0.0};
    double left[2], right[2];
    earEnergies(turnedLeft, left);
    earEnergies(turnedRight, right);
    ASSERT_GT(left[0] + left[1], 0.0);
    // Turned left, the chair is on the head's right; turned right, on its left: each time the
    // near ear is louder by the head's shadow (KEMAR: over 3 dB at these frequencies), and
    // the set's symmetry makes the two turns mirror images.
    EXPECT_GT(left[1], 2.0 * left[0]);
    EXPECT_GT(right[0], 2.0 * right[1]);
    EXPECT_NEAR(left[1] / right[0], 1.0, 0.05);
}
