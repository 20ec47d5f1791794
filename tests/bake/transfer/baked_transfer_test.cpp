// A baked scene's upper modes against an independent boundary element solve: the quick dragon
// baked by the real tonwell-bake, as it is (its modes beyond tier A's reach take the wave tier)
// and with the high-frequency approximation asked for; the lowest mode of the tier under test at
// k D >= 20 is solved again by boundary elements on its own surface at six elements per
// wavelength, and what the scene's files hold is compared with it on a sphere about the object.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "geometry/dense_matrix.h"
#include "tests/bake/bake_test_support.h"
#include "tests/support/temp_dir.h"
#include "tools/bake/bake_scene.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/transfer/acoustic_surface.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"
#include "tools/bake/transfer/multipole/multipole_basis.h"
#include "tools/bake/transfer/multipole/transfer_settings.h"

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The quick dragon's recipe, written into `dir` with its mesh's path made absolute and `transfer`
// (JSON members) added to its "transfer" object.
std::string quickDragonRecipe(const TempDir& dir, const std::string& transfer) {
    std::string text =
        readText(std::string(TONWELL_SOURCE_DIR) + "/tools/bake/recipes/dragon-quick.json");
    const std::string relative = "../../../node_modules";
    const size_t at = text.find(relative);
    if (at != std::string::npos)
        text.replace(at, relative.size(), std::string(TONWELL_SOURCE_DIR) + "/node_modules");
    const std::string key = "\"transfer\": {";
    const size_t open = text.find(key);
    if (open != std::string::npos && !transfer.empty())
        text.insert(open + key.size(), " " + transfer + ",");
    const std::string path = dir.file("dragon-quick.json");
    std::ofstream(path) << text;
    return path;
}

struct BakedModeCheck {
    char tier = 0;
    int mode = -1;
    double frequency = 0;
    RadiationComparison error;
};

// Bakes `recipePath` and compares its lowest mode of `tier` at k D >= 20 with the reference.
BakedModeCheck checkBakedMode(const TempDir& dir, const std::string& recipePath, char tier) {
    BakedModeCheck check;
    const std::string folder = dir.file("dragon");
    std::string output;
    EXPECT_EQ(
        runCommand(std::string(TONWELL_BAKE_EXECUTABLE) + " " + recipePath + " " + folder, &output),
        0)
        << output;
    const Recipe recipe = readRecipe(recipePath);
    // The surface the baker wrote (surface vertex i is OBJ vertex i + 1), made again.
    const SurfaceMesh fine = makeStruckSurface(recipe);
    int rows = 0, modes = 0, freqRows = 0, freqColumns = 0;
    double *shapeValues = nullptr, *frequencyValues = nullptr;
    if (loadDenseMatrix((folder + "/dragon.U").c_str(), &rows, &modes, &shapeValues) != 0 ||
        loadDenseMatrix((folder + "/dragon.freq").c_str(), &freqRows, &freqColumns,
                        &frequencyValues) != 0) {
        ADD_FAILURE() << "the baked folder has no dragon.U or dragon.freq";
        return check;
    }
    const Eigen::MatrixXd shapes =
        Eigen::Map<Eigen::MatrixXd>(shapeValues, rows, modes) / reportedForceUnit(folder);
    const Eigen::VectorXd frequencies = Eigen::Map<Eigen::VectorXd>(frequencyValues, freqRows);
    std::free(shapeValues);
    std::free(frequencyValues);
    const std::string tiers = reportedTiers(folder);
    Eigen::Vector3d lower, upper;
    boundingBox(fine, lower, upper);
    const double size = (upper - lower).maxCoeff();
    for (int j = 0; j < modes && check.mode < 0; ++j)
        if (tiers[size_t(j)] == tier && 2 * kPi * frequencies(j) / kSpeedOfSound_ms * size >= 20)
            check.mode = j;
    if (check.mode < 0) {
        ADD_FAILURE() << "no tier " << tier << " mode at k D >= 20 in " << tiers;
        return check;
    }
    check.tier = tier;
    const double f = check.frequency = frequencies(check.mode);
    const SurfaceMesh acoustic = makeAcousticSurface(
        recipe, fine, static_cast<int>(std::ceil(elementsNeeded(surfaceArea(fine), f, 6))));
    const BemSurface surface = makeBemSurface(acoustic.positions, acoustic.triangles);
    const Eigen::MatrixXd velocity =
        interpolateNormalVelocity(fine, shapes.col(check.mode), acoustic);
    const BemSolution solution = solveExteriorNeumann(surface, 2 * kPi * f, velocity);
    EXPECT_TRUE(solution.converged);
    const Eigen::Vector3d centre = 0.5 * (lower + upper);
    const std::vector<Eigen::Vector3d> points =
        fibonacciSphere(1500, (upper - lower).norm(), centre);
    const Eigen::VectorXcd reference = radiatedPressure(surface, solution, points).col(0);

    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "/dragon-transfer-%03d", check.mode);
    int sourceRows = 0, sourceColumns = 0, kRows = 0, kColumns = 0;
    double *sourceValues = nullptr, *k = nullptr;
    if (loadDenseMatrix((folder + prefix + ".sources").c_str(), &sourceRows, &sourceColumns,
                        &sourceValues) != 0 ||
        loadDenseMatrix((folder + prefix + ".k").c_str(), &kRows, &kColumns, &k) != 0) {
        ADD_FAILURE() << "mode " << check.mode << " has no transfer files";
        return check;
    }
    const MultipoleSources sources =
        Eigen::Map<const MultipoleSources>(sourceValues, 11, sourceColumns);
    Eigen::VectorXcd stored(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        stored[i] = evaluateMultipoles(sources, k[0], points[i]);
    std::free(sourceValues);
    std::free(k);
    check.error = compareRadiation(points, centre, stored, reference);
    return check;
}

// The figures, printed (they are the ones the accuracy page quotes) and for the failure's trace.
std::string describe(const BakedModeCheck& c) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "tier %c, mode %d at %.0f Hz: power %+.2f dB, 25 degree caps %.2f dB RMS, "
                  "point by point %.2f dB RMS",
                  c.tier, c.mode + 1, c.frequency, c.error.powerErrorDb,
                  c.error.smoothedDirectivityDb, c.error.pointwiseDirectivityDb);
    std::printf("%s\n", text);
    return text;
}

}  // namespace

TEST(BakedTransfer, WaveTierModeAgreesWithBoundaryElementsPointByPoint) {
    // The wave tier solves the true field, not a smoothed one: its power within 1 dB and its
    // directivity point by point within 3 dB RMS, the bounds every mode of the overlap with
    // tier A must meet.
    TempDir dir;
    const BakedModeCheck c = checkBakedMode(dir, quickDragonRecipe(dir, ""), 'W');
    SCOPED_TRACE(describe(c));
    EXPECT_LT(std::abs(c.error.powerErrorDb), 1.0);
    EXPECT_LT(c.error.pointwiseDirectivityDb, 3.0);
}

TEST(BakedTransfer, HighFrequencyModeAgreesWithBoundaryElementsOnAverage) {
    // Tier C, asked for by the recipe from k D = 12: its acceptance is the power and the
    // directivity averaged over 25 degree caps, each within 3 dB.
    TempDir dir;
    const BakedModeCheck c =
        checkBakedMode(dir, quickDragonRecipe(dir, "\"highFrequencyKD\": 12"), 'C');
    SCOPED_TRACE(describe(c));
    EXPECT_LT(std::abs(c.error.powerErrorDb), 3.0);
    EXPECT_LT(c.error.smoothedDirectivityDb, 3.0);
}

TEST(BakedTransfer, OverlapComparesTheTwoSolvesBeforeEitherFit) {
    // With an overlap, tier A's group also samples its boundary element field where the wave
    // tier samples the same mode, and the report compares the two before either fit. The quick
    // dragon's one overlap mode (2.6 kHz, k D of about 10): the wave tier's samples agree with
    // tier A's field in power within 1 dB and point by point within 3 dB RMS, and as closely as
    // with tier A's stored field there (a 4 % fit), within 1 dB both ways.
    TempDir dir;
    const std::string folder = dir.file("dragon");
    std::string output;
    ASSERT_EQ(
        runCommand(std::string(TONWELL_BAKE_EXECUTABLE) + " " +
                       quickDragonRecipe(dir, "\"wave\": {\"overlapOctaves\": 1}") + " " + folder,
                   &output),
        0)
        << output;
    const std::string report = readText(folder + "/report.txt");
    // "  WHAT on N modes (WHERE): ...; worst power P dB, worst point by point Q dB RMS"
    auto figures = [&](const std::string& what, int* modes, double* power, double* point) {
        const size_t at = report.find("  " + what + " on ");
        if (at == std::string::npos) return false;
        const std::string line = report.substr(at, report.find('\n', at) - at);
        *modes = std::stoi(line.substr(what.size() + 6));
        const size_t p = line.find("worst power "), q = line.find("worst point by point ");
        if (p == std::string::npos || q == std::string::npos) return false;
        *power = std::stod(line.substr(p + 12));
        *point = std::stod(line.substr(q + 21));
        return true;
    };
    int modes = 0, storedModes = 0;
    double power = 0, point = 0, storedPower = 0, storedPoint = 0;
    ASSERT_TRUE(figures("tier W's and tier A's samples before their fits", &modes, &power, &point))
        << report;
    ASSERT_TRUE(figures("tier W's samples before its fit against tier A", &storedModes,
                        &storedPower, &storedPoint));
    EXPECT_GE(modes, 1);
    EXPECT_EQ(modes, storedModes);
    EXPECT_LT(power, 1.0);
    EXPECT_LT(point, 3.0);
    EXPECT_NEAR(power, storedPower, 1.0);
    EXPECT_NEAR(point, storedPoint, 1.0);
}
