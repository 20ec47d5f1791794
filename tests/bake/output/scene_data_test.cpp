// Gathering a scene folder for export: a built-in scene's files found through its fixed preset, a
// folder of one's own through its presets.json, the damping as the engine forms it; and every
// kind of bad folder reported in one message naming the file, never by ending the process.
#include "tools/bake/output/scene_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "geometry/scene_presets.h"
#include "tests/bake/output/zip_test_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_scene.h"

namespace fs = std::filesystem;

namespace {

// The matrix of a dense matrix file, parsed here from its documented layout.
std::vector<double> matrixFile(const std::string& path, int* rows, int* columns) {
    const std::string bytes = readFileBytes(path);
    std::memcpy(rows, bytes.data(), 4);
    std::memcpy(columns, bytes.data() + 4, 4);
    std::vector<double> values(static_cast<size_t>(*rows) * *columns);
    std::memcpy(values.data(), bytes.data() + 8, values.size() * sizeof(double));
    return values;
}

void replaceFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The message of reading `folder`, which must fail.
std::string problemOf(const std::string& folder) {
    SceneData scene;
    const std::string problem = readSceneData(folder, &scene);
    EXPECT_NE(problem, "") << folder << " was read";
    EXPECT_EQ(scene.modeCount, 0);  // nothing half-read is left
    return problem;
}

}  // namespace

TEST(SceneData, BuiltInSceneMatchesItsFilesAndThePresetDamping) {
    TempDir dir;
    writeTestScene(dir.path(), kChairScene);
    SceneData scene;
    ASSERT_EQ(readSceneData(dir.file("chair") + "/", &scene), "");
    EXPECT_EQ(scene.name, "chair");
    int rows = 0, columns = 0;
    const std::vector<double> u = matrixFile(dir.file("chair/chair.U"), &rows, &columns);
    ASSERT_EQ(scene.vertexCount * 3, rows);
    ASSERT_EQ(scene.modeCount, columns);
    EXPECT_EQ(std::memcmp(scene.modeShapes.get(), u.data(), u.size() * sizeof(double)), 0);
    const std::vector<double> f = matrixFile(dir.file("chair/chair.freq"), &rows, &columns);
    EXPECT_EQ(scene.frequencies_Hz, f);
    // The chair's preset damping, and the decay of mode j: c_j = alpha + beta omega_j^2.
    const SceneParameters& preset = *scenePreset(kChairScene);
    EXPECT_EQ(scene.alpha_perSecond, static_cast<double>(preset.massDamping));
    EXPECT_EQ(scene.beta_seconds, static_cast<double>(preset.stiffnessDamping));
    for (int j = 0; j < scene.modeCount; ++j) {
        const double omega = 2 * M_PI * f[j];
        EXPECT_NEAR(scene.dampingCoefficients_perSecond[j],
                    preset.massDamping + preset.stiffnessDamping * omega * omega, 1e-9);
    }
    // One order-0 source per mode in the test scene, each a ".sources" file's 11 values.
    ASSERT_EQ(scene.sourceOffsets.size(), static_cast<size_t>(scene.modeCount) + 1);
    EXPECT_EQ(scene.sourceOffsets.back(), scene.modeCount);
    const std::vector<double> s =
        matrixFile(dir.file("chair/transfer/mode002.sources"), &rows, &columns);
    ASSERT_EQ(rows, 11);
    EXPECT_EQ(std::vector<double>(scene.sources.begin() + 22, scene.sources.begin() + 33), s);
    EXPECT_FALSE(scene.hasReport);
    EXPECT_TRUE(std::isnan(scene.forceUnit_N));
}

TEST(SceneData, FolderOfOnesOwnIsReadThroughItsPresetFile) {
    TempDir dir;
    writeTestScene(dir.path(), kChairScene);
    fs::rename(dir.file("chair"), dir.file("ring"));
    // The list names its files from the folder's parent: "ring/transfer/modeNNN".
    std::string list = readFileBytes(dir.file("ring/chair-ZEPObjectsList-15.txt"));
    for (size_t at; (at = list.find("chair/")) != std::string::npos;) list.replace(at, 6, "ring/");
    replaceFile(dir.file("ring/ring-list.txt"), list);
    const std::string presets =
        R"({"damping": {"mass": 3.5, "stiffness": 1e-7},
            "files": {"mesh": "chair.obj", "modeShapes": "chair.U", "frequencies": "chair.freq",
                      "transferList": "ring-list.txt"}})";
    replaceFile(dir.file("ring/presets.json"), presets);
    SceneData scene;
    ASSERT_EQ(readSceneData(dir.file("ring"), &scene), "");
    EXPECT_EQ(scene.name, "ring");
    EXPECT_EQ(scene.alpha_perSecond, 3.5);
    EXPECT_EQ(scene.beta_seconds, 1e-7);
    EXPECT_EQ(scene.modeCount, 5);

    replaceFile(dir.file("ring/presets.json"), R"({"damping": {"mass": 3.5}})");
    const std::string problem = problemOf(dir.file("ring"));
    EXPECT_EQ(problem, dir.file("ring/presets.json") +
                           ": \"damping/stiffness\" is missing or not "
                           "a number");
    fs::remove(dir.file("ring/presets.json"));
    EXPECT_NE(problemOf(dir.file("ring")).find("no readable presets.json"), std::string::npos);
}

TEST(SceneData, EveryBadFileIsNamedInTheMessage) {
    TempDir dir;
    EXPECT_EQ(problemOf(dir.file("nowhere")), dir.file("nowhere") + ": no such scene folder");

    writeTestScene(dir.path(), kChairScene);
    const std::string u = dir.file("chair/chair.U"), freq = dir.file("chair/chair.freq");
    const std::string good = readFileBytes(u), goodFreq = readFileBytes(freq);

    // A truncated matrix: the program's reader's message, which names it.
    replaceFile(u, good.substr(0, good.size() / 2));
    EXPECT_NE(problemOf(dir.file("chair")).find(u), std::string::npos);
    // Mode shapes of another mesh: rows not three per vertex.
    replaceFile(u, denseMatrixBytes(6, 5, std::vector<double>(30, 0.0)));
    EXPECT_NE(problemOf(dir.file("chair")).find(u + ": 6 rows, but the mesh"), std::string::npos);
    replaceFile(u, good);
    // Frequencies of another count of modes.
    replaceFile(freq, denseMatrixBytes(4, 1, {1, 2, 3, 4}));
    EXPECT_NE(problemOf(dir.file("chair")).find(freq + ": a 4 x 1 matrix"), std::string::npos);
    replaceFile(freq, goodFreq);
    // A missing source file of the transfer.
    fs::remove(dir.file("chair/transfer/mode003.sources"));
    EXPECT_NE(problemOf(dir.file("chair")).find("transfer/mode003.sources"), std::string::npos);
    // A face that names a vertex the mesh does not have: the file and its line.
    writeTestScene(dir.path(), kChairScene);
    std::ofstream(dir.file("chair/chair.obj"), std::ios::app) << "f 1 2 99999\n";
    EXPECT_NE(problemOf(dir.file("chair")).find(dir.file("chair/chair.obj") + ":"),
              std::string::npos);
    writeTestScene(dir.path(), kChairScene);
    // A report whose table skips a mode.
    replaceFile(dir.file("chair/report.txt"),
                "  mode    frequency  fitted at tier\n"
                "     2     165.92 Hz    165.92    A      298       5   11.99 %    4.03 %     44 "
                "    0.2\n");
    EXPECT_EQ(problemOf(dir.file("chair")),
              dir.file("chair/report.txt") + ":2: mode 2 where mode 1 was expected");
}
