// A moving contact on an engine object: silence at zero force, bit for bit; the sound
// proportional to the normal force; a contact standing on a vertex exciting the modes in the
// proportions of that vertex's strike; and the contact moved by a control thread while another
// thread renders (run under ThreadSanitizer by scripts/test).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "sound/mode_levels.h"
#include "tests/support/engine_test_scene.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace {

constexpr int kChair = 1;

ContactSetting scrapeAt(SurfacePoint point, double force, double speed) {
    ContactSetting contact;
    contact.touching = true;
    contact.point = point;
    contact.direction[0] = 0.0;
    contact.direction[1] = 0.6;
    contact.direction[2] = 0.8;
    contact.normalForce = force;
    contact.speed = speed;
    contact.design = designRoughnessProfile(ContactKind::kScrape, 1.5, 0.0);
    return contact;
}

// An engine of one object of `dir`'s chair scene.
struct OneObject {
    explicit OneObject(const TempDir& dir, int channels = 1) : engine(channels, 200) {
        engine.setListener(testListenerAt(0.5, 0.2, 0.7));
        std::string problem;
        id = engine.addObject(engine.loadObject(testChairFiles(dir), &problem));
        EXPECT_GE(id, 0) << problem;
    }
    EngineObject& object() { return *engine.object(id); }
    std::vector<float> render(long frames) {
        std::vector<float> out(frames * engine.channelCount());
        engine.render(out.data(), frames);
        return out;
    }
    Engine engine;
    int id = -1;
};

const SurfacePoint kPoint{{3, 17, 18}, {0.2, 0.5, 0.3}};

}  // namespace

TEST(EngineContact, ZeroForceIsSilenceBitForBit) {
    TempDir dir;
    writeTestScene(dir.path(), kChair);
    for (int channels : {1, 2}) {
        SCOPED_TRACE(testing::Message() << channels << " channels");
        OneObject quiet(dir, channels), struckOnly(dir, channels), struckAndQuiet(dir, channels);
        const double direction[3] = {0.0, 0.0, -1.0};
        struckOnly.object().strike(5, direction, 2.0);
        struckAndQuiet.object().strike(5, direction, 2.0);
        ASSERT_TRUE(quiet.object().setContact(scrapeAt(kPoint, 0.0, 0.4)));
        ASSERT_TRUE(struckAndQuiet.object().setContact(scrapeAt(kPoint, 0.0, 0.4)));
        const std::vector<float> silence = quiet.render(44100 / 2);
        for (float s : silence) ASSERT_EQ(s, 0.0f);
        // Under a strike, a contact of zero force changes no sample.
        EXPECT_EQ(struckAndQuiet.render(44100 / 2), struckOnly.render(44100 / 2));
    }
}

TEST(EngineContact, SoundIsProportionalToTheNormalForce) {
    TempDir dir;
    writeTestScene(dir.path(), kChair);
    std::vector<std::vector<float>> renders;
    for (double force : {0.005, 0.01, 0.02}) {
        OneObject one(dir);
        ASSERT_TRUE(one.object().setContact(scrapeAt(kPoint, force, 0.3)));
        std::vector<float> out = one.render(44100 / 4);
        one.object().endContact();
        const std::vector<float> tail = one.render(44100 / 4);
        out.insert(out.end(), tail.begin(), tail.end());
        renders.push_back(out);
    }
    // f = F_N sigma g: the same profile at every force, the bank linear, so each sample and the
    // RMS are proportional to F_N (up to the float output's rounding).
    auto rms = [](const std::vector<float>& v) {
        double sum = 0.0;
        for (float x : v) sum += static_cast<double>(x) * x;
        return std::sqrt(sum / v.size());
    };
    ASSERT_GT(rms(renders[0]), 1e-6);
    // Unclipped: the proportion holds below full scale.
    for (float s : renders[2]) ASSERT_LT(std::fabs(s), 0.99f);
    EXPECT_NEAR(rms(renders[1]) / rms(renders[0]), 2.0, 1e-5);
    EXPECT_NEAR(rms(renders[2]) / rms(renders[0]), 4.0, 1e-5);
    for (size_t i = 0; i < renders[0].size(); ++i) {
        ASSERT_NEAR(renders[2][i], 4.0f * renders[0][i], 1e-6 * (1.0 + std::fabs(renders[2][i])));
    }
}

TEST(EngineContact, ContactOnAVertexExcitesTheModesAsItsStrike) {
    // Modes of one frequency: each responds to the contact's force with the same waveform times
    // its modal force at the point, so the modes' levels stand in the proportions the strike at
    // that vertex gives them, whatever the profile did.
    TempDir dir;
    TestSceneOptions options;
    options.frequencies = {700.0, 700.0, 700.0, 700.0};
    writeTestScene(dir.path(), kChair, options);
    const int vertex = 11;
    const double direction[3] = {0.0, 0.6, 0.8};
    auto levels = [&](bool contact) {
        OneObject one(dir);
        one.object().blockContext().modeLevelsWanted = true;
        if (contact) {
            ContactSetting setting =
                scrapeAt(SurfacePoint{{vertex, vertex, vertex}, {1, 0, 0}}, 1.0, 0.5);
            for (int k = 0; k < 3; ++k) setting.direction[k] = direction[k];
            one.object().setContact(setting);
        } else {
            one.object().strike(vertex, direction, 1.0);
        }
        one.render(44100 / 5);
        ModeLevelBuffer& buffer = one.object().blockContext().modeLevels;
        EXPECT_TRUE(buffer.acquireLatest());
        return std::vector<double>(buffer.levelsSquared(), buffer.levelsSquared() + 4);
    };
    const std::vector<double> struck = levels(false), scraped = levels(true);
    ASSERT_GT(struck[0], 0.0);
    ASSERT_GT(scraped[0], 0.0);
    for (int e = 1; e < 4; ++e) {
        EXPECT_NEAR((scraped[e] / scraped[0]) / (struck[e] / struck[0]), 1.0, 1e-9) << e;
    }
}

TEST(EngineContact, ContactMovedWhileAnotherThreadRendersIsRaceFree) {
    TempDir dir;
    writeTestScene(dir.path(), kChair);
    OneObject one(dir, 2);
    std::atomic<bool> stop{false};
    std::atomic<long> renders{0};
    std::atomic<bool> badSample{false};
    std::thread audio([&] {
        std::vector<float> out(2 * 128);
        while (!stop.load(std::memory_order_acquire)) {
            one.engine.render(out.data(), 128);
            for (float s : out) {
                if (!(std::fabs(s) <= 1.0f)) badSample = true;
            }
            renders.fetch_add(1, std::memory_order_release);
        }
    });
    for (int step = 0; step < 400; ++step) {
        const double t = step / 400.0;
        ContactSetting contact =
            scrapeAt(SurfacePoint{{step % 30, (step + 1) % 30, (step + 2) % 30}, {1 - t, t, 0.0}},
                     0.5, 0.1 + t);
        if (step % 100 == 50)
            contact.design = designRoughnessProfile(ContactKind::kRoll, 1.2, 0.01);
        ASSERT_TRUE(one.object().setContact(contact));
        if (step % 97 == 0) one.object().endContact();
        const long target = renders.load(std::memory_order_acquire) + 1;
        while (renders.load(std::memory_order_acquire) < target) std::this_thread::yield();
    }
    stop = true;
    audio.join();
    EXPECT_FALSE(badSample);
    EXPECT_GT(renders.load(), 400);
}
