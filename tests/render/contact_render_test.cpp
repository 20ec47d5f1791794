// tonwell-render's moving contacts: the --contact option's parsing, and the real renderer
// following a path over a small scene (a contact of zero force changes no sample; a faster scrape
// over the same path is brighter; a roll sounds and differs from a scrape; the default scrape is
// about as loud as a strike).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>
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

// The default roughness is each object's own, set so that a scrape at 0.3 m/s pressing with a
// strike's force is about as loud as that strike. On the small sphere scenes, at four vertices:
// the strike along the normal (its loudest 100 ms), against a scrape to the next vertex and back
// at 0.3 m/s along the normal with the same force (its last six seconds, once the modes have built
// up: a light mode rung by noise swells and fades over seconds, so a shorter average would miss
// its level by several dB). The bell's five light modes build up under a steady force far more
// than the chair's forty (150 Hz - 9 kHz): at one fixed roughness the two differ by about 10 dB.
TEST(ContactRender, DefaultScrapeIsAboutAsLoudAsAStrikeOfTheSameForce) {
    struct Case {
        int scene;
        TestSceneOptions options;
    };
    std::vector<Case> cases(2);
    cases[0].scene = 0;
    cases[1].scene = 1;
    cases[1].options.frequencies = logSpacedFrequencies(40, 150.0, 9000.0);
    for (const Case& c : cases) {
        TempDir dir;
        writeTestScene(dir.path(), c.scene, c.options);
        const std::string name = sceneName(c.scene);
        const std::vector<std::array<float, 3>> vertices =
            readObjVertices(dir.file(name + "/" + name + ".obj"));
        ASSERT_GT(vertices.size(), 200u);
        const double force = 0.05;
        std::vector<double> differences;
        for (int v : {40, 75, 110, 150}) {
            // The sphere is centred on the object's origin: the normal is the vertex's direction.
            const std::array<float, 3>& p = vertices[size_t(v)];
            const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
            const std::array<float, 3>& q = vertices[size_t(v + 1)];
            const double step =
                std::sqrt((q[0] - p[0]) * (q[0] - p[0]) + (q[1] - p[1]) * (q[1] - p[1]) +
                          (q[2] - p[2]) * (q[2] - p[2]));
            const int trips = int(std::ceil(7.0 * 0.3 / (2.0 * step)));
            std::string path = std::to_string(v);
            for (int t = 0; t < trips; ++t)
                path += "," + std::to_string(v + 1) + "," + std::to_string(v);
            const double duration = 2.0 * trips * step / 0.3;
            std::ostringstream strike, scrape;
            strike << "vertex=" << v << " magnitude=" << force << " direction=" << p[0] / r << ","
                   << p[1] / r << "," << p[2] / r;
            scrape << "scrape path=" << path << " duration=" << duration << " force=" << force;
            const std::string out = dir.file("x.wav");
            RenderRun run = runRenderer(
                {dir.file(name), "-o", out, "--length", "1.0", "--strike", strike.str()});
            ASSERT_EQ(run.exitCode, 0) << run.output;
            const std::vector<float> struck = readWav(out).samples;
            run = runRenderer({dir.file(name), "-o", out, "--length", std::to_string(duration),
                               "--contact", scrape.str()});
            ASSERT_EQ(run.exitCode, 0) << run.output;
            const std::vector<float> scraped = readWav(out).samples;
            double loudest = 0.0;
            for (size_t i = 0; i + 4410 <= struck.size(); i += 441)
                loudest = std::max(loudest, rms(struck, i, i + 4410));
            const size_t end = std::min(scraped.size(), size_t(duration * 44100));
            ASSERT_GT(end, 6u * 44100u);
            differences.push_back(20.0 * std::log10(rms(scraped, end - 6 * 44100, end) / loudest));
        }
        std::sort(differences.begin(), differences.end());
        const double median = 0.5 * (differences[1] + differences[2]);
        EXPECT_LT(std::abs(median), 3.0)
            << name << ": scrape against strike " << differences[0] << ", " << differences[1]
            << ", " << differences[2] << ", " << differences[3] << " dB";
    }
}
