// The engine (engine/engine.h) with real threads: objects loaded, struck, moved and unloaded on
// the control thread while another thread renders, as a host's audio callback would; run under
// ThreadSanitizer by scripts/test. And the engine's bookkeeping of its object slots.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "tests/support/engine_test_scene.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr int kChair = 1;

TEST(Engine, LoadingAndUnloadingWhileAnotherThreadRendersIsRaceFree) {
    TempDir first, second;
    TestSceneOptions options;
    options.sourceStrength = 200.0;
    writeTestScene(first.path(), kChair, options);
    options.frequencies = {400.0, 990.0, 1500.0};
    options.sourcesPerMode = 8;
    writeTestScene(second.path(), kChair, options);

    Engine engine(2, 200);
    engine.setListener(testListenerAt(0.6, 0.3, 0.6));
    std::string problem;
    const int resident = engine.addObject(engine.loadObject(testChairFiles(first), &problem));
    ASSERT_GE(resident, 0) << problem;

    std::atomic<bool> stop{false};
    std::atomic<long> renders{0};
    std::atomic<bool> badSample{false};
    double loudest = 0.0;
    std::thread audio([&] {
        std::vector<float> out(2 * 256);
        while (!stop.load(std::memory_order_acquire)) {
            engine.render(out.data(), 256);
            for (float s : out) {
                if (!(std::fabs(s) <= 1.0f)) badSample = true;
                loudest = std::max(loudest, static_cast<double>(std::fabs(s)));
            }
            renders.fetch_add(1, std::memory_order_release);
        }
    });

    const double direction[3] = {0.0, -0.6, -0.8};
    auto waitForRenders = [&](long count) {
        const long target = renders.load(std::memory_order_acquire) + count;
        while (renders.load(std::memory_order_acquire) < target) std::this_thread::yield();
    };
    for (int round = 0; round < 60; ++round) {
        std::unique_ptr<EngineObject> loaded = engine.loadObject(testChairFiles(second), &problem);
        ASSERT_NE(loaded, nullptr) << problem;
        EngineObject* visitor = loaded.get();
        const int id = engine.addObject(std::move(loaded));
        ASSERT_GE(id, 0);
        ASSERT_TRUE(visitor->strike(round % visitor->vertexCount(), direction, 1.0));
        ObjectPose pose = identityPose();
        pose.translation[0] = 0.01 * round;
        visitor->setPose(pose);
        visitor->setGain(0.5 + 0.01 * round);

        EngineObject* kept = engine.object(resident);
        ASSERT_TRUE(kept->strike(round % 7, direction, 0.5));
        ASSERT_TRUE(kept->setDamping(8.0 + round, 7e-6, &problem)) << problem;
        kept->setActiveModeCount(round % 6);
        engine.setListener(testListenerAt(0.6, 0.3 + 0.001 * round, 0.6));
        // Half the rounds let the object play; the other half take it away at once, perhaps
        // in the middle of the render call that first mixes it.
        if (round % 2 == 0) waitForRenders(2);
        ASSERT_TRUE(engine.removeObject(id));
        EXPECT_EQ(engine.object(id), nullptr);
    }
    waitForRenders(2);
    stop.store(true, std::memory_order_release);
    audio.join();

    EXPECT_FALSE(badSample.load());
    EXPECT_GT(renders.load(), 60);
    EXPECT_GT(loudest, 1e-4);  // the strikes were heard
}

TEST(Engine, SlotsAreReusedAfterRemoval) {
    TempDir dir;
    writeTestScene(dir.path(), kChair);
    Engine engine(1, 200);
    std::string problem;
    std::vector<int> ids;
    for (int i = 0; i < Engine::kMaxObjects; ++i) {
        ids.push_back(engine.addObject(engine.loadObject(testChairFiles(dir), &problem)));
        ASSERT_EQ(ids.back(), i) << problem;
    }
    EXPECT_EQ(engine.addObject(engine.loadObject(testChairFiles(dir), &problem)), -1);
    EXPECT_TRUE(engine.removeObject(17));
    EXPECT_FALSE(engine.removeObject(17));
    EXPECT_FALSE(engine.removeObject(Engine::kMaxObjects));
    EXPECT_EQ(engine.addObject(engine.loadObject(testChairFiles(dir), &problem)), 17);
}

}  // namespace
