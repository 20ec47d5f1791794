// tonwell-render's moving contacts: the --contact option's parsing, and the real renderer
// following a path over a small scene (a contact of zero force changes no sample; a faster scrape
// over the same path is brighter; a roll sounds and differs from a scrape).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/render/render_test_support.h"
#include "tests/support/periodogram.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"
#include "tools/render/render_options.h"

TEST(ContactOption, ReadsEveryKeyAndRefusesWithOneMessageEach) {
    ContactRequest contact;
    ASSERT_EQ(parseContact("roll path=3,17,40 at=0.25 duration=1.5 force=2 roughness=0.1 "
                           "slope=1.2 radius=0.01",
                           &contact),
              "");
    EXPECT_EQ(contact.kind, 1);
    EXPECT_EQ(contact.path, (std::vector<int>{3, 17, 40}));
    EXPECT_EQ(contact.time, 0.25);
    EXPECT_EQ(contact.duration, 1.5);
    EXPECT_EQ(contact.force, 2.0);
    EXPECT_EQ(contact.roughness, 0.1);
    EXPECT_EQ(contact.slope, 1.2);
    EXPECT_EQ(contact.radius, 0.01);
    ContactRequest defaults;
    ASSERT_EQ(parseContact("scrape path=1 duration=1 force=1", &defaults), "");
    EXPECT_EQ(defaults.kind, 0);
    EXPECT_EQ(defaults.time, 0.0);

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"", "empty contact"},
        {"spin path=1 duration=1 force=1", "\"spin\" is no kind of contact"},
        {"scrape duration=1 force=1", "a contact needs path=V1,V2,..."},
        {"scrape path=1 force=1", "a contact needs duration=SECONDS"},
        {"scrape path=1 duration=1", "a contact needs force=N"},
        {"scrape path=1,x duration=1 force=1", "path \"1,x\" is not vertices"},
        {"scrape path=1 duration=0 force=1", "duration 0 must be above 0"},
        {"scrape path=1 duration=1 force=-1", "force -1 must be at least 0"},
        {"scrape path=1 duration=1 force=1 slope=3", "slope 3 is above 2"},
        {"roll path=1 duration=1 force=1 radius=0", "radius 0 must be above 0"},
        {"scrape path=1 duration=1 force=1 speed=2", "unknown key \"speed\""},
    };
    for (const auto& [text, message] : bad) {
        ContactRequest c;
        EXPECT_EQ(parseContact(text, &c).rfind(message, 0), 0u)
            << text << " gave: " << parseContact(text, &c);
    }
    // A contact alone is enough to render.
    RenderOptions options;
    EXPECT_EQ(
        parseRenderArguments(
            {"chair", "-o", "a.wav", "--contact", "scrape path=1,2 duration=1 force=1"}, &options),
        "");
    EXPECT_EQ(options.contacts.size(), 1u);
}

namespace {

std::vector<float> render(const TempDir& dir, std::vector<std::string> extra) {
    std::vector<std::string> arguments = {dir.file("chair"), "-o", dir.file("x.wav"), "--length",
                                          "0.8"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const RenderRun run = runRenderer(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return readWav(dir.file("x.wav")).samples;
}

double rms(const std::vector<float>& v, size_t first, size_t last) {
    double sum = 0.0;
    for (size_t i = first; i < last; ++i) sum += static_cast<double>(v[i]) * v[i];
    return std::sqrt(sum / (last - first));
}

}  // namespace

TEST(ContactRender, ZeroForceContactChangesNoSample) {
    TempDir dir;
    writeTestScene(dir.path(), 1);
    const std::vector<float> struck = render(dir, {"--strike", "vertex=12 magnitude=0.05"});
    const std::vector<float> both =
        render(dir, {"--strike", "vertex=12 magnitude=0.05", "--contact",
                     "scrape path=10,40,80 at=0.1 duration=0.5 force=0"});
    ASSERT_EQ(both.size(), struck.size());
    EXPECT_EQ(both, struck);
}

TEST(ContactRender, FasterScrapeOverTheSamePathIsBrighter) {
    TempDir dir;
    TestSceneOptions options;
    options.frequencies = logSpacedFrequencies(40, 150.0, 9000.0);
    writeTestScene(dir.path(), 1, options);
    auto centroid = [&](const std::string& duration) {
        const std::vector<float> out =
            render(dir, {"--contact", "scrape path=10,40,80 duration=" + duration + " force=0.02"});
        // The steady part of the scrape, 0.1 .. 0.5 s.
        std::vector<double> steady(out.begin() + 4410, out.begin() + 22050);
        return spectralCentroid(powerSpectrum(steady), 44100.0);
    };
    // The path is 0.365 m: 3 s is 0.12 m/s, 0.5 s 0.73 m/s. The modes' response (larger for the
    // lower ones) keeps the output's centroid low; the excitation's own centroid moves in
    // proportion to the speed (tests/sound/contact_excitation_test.cpp).
    const double slow = centroid("3.0");
    const double fast = centroid("0.5");
    EXPECT_GT(fast, slow * 1.1) << "slow " << slow << " Hz, fast " << fast << " Hz";
}

TEST(ContactRender, RollSoundsAndDiffersFromAScrape) {
    TempDir dir;
    writeTestScene(dir.path(), 1);
    const std::vector<float> scrape =
        render(dir, {"--contact", "scrape path=10,40,80 duration=0.7 force=0.05"});
    const std::vector<float> roll =
        render(dir, {"--contact", "roll path=10,40,80 duration=0.7 force=0.05 radius=0.01"});
    EXPECT_GT(rms(scrape, 4410, 30000), 1e-4);
    EXPECT_GT(rms(roll, 4410, 30000), 1e-4);
    EXPECT_NE(scrape, roll);
    // Contacts one after another are fine; overlapping ones are refused.
    const RenderRun overlap = runRenderer({dir.file("chair"), "-o", dir.file("y.wav"), "--contact",
                                           "scrape path=1,2 duration=0.5 force=1", "--contact",
                                           "roll path=3,4 at=0.3 duration=0.5 force=1"});
    EXPECT_NE(overlap.exitCode, 0);
    EXPECT_NE(overlap.output.find("overlaps"), std::string::npos) << overlap.output;
}
