// Bad input to tonwell-bake, one table: recipes with a field missing, negative, not a number, of
// the wrong type or absurd, meshes that are open, inside out, self-intersecting, degenerate or
// empty, and an output folder that cannot be written. Every row runs the real baker and must end
// with exit status 1 and one error message that names the recipe field (or the mesh file, or the
// folder), before any long stage (no tetrahedra are made), and leave the previous scene folder
// exactly as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/bake/bake_test_support.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const std::string kBaker = TONWELL_BAKE_EXECUTABLE;
const std::string kRecipes = std::string(TONWELL_SOURCE_DIR) + "/tools/bake/recipes/";

Json readJson(const std::string& path) {
    std::ifstream in(path);
    return Json::parse(in);
}

// `recipe` with the value at the JSON pointer `at` replaced by `value` (added if absent).
Json with(Json recipe, const std::string& at, const Json& value) {
    recipe[Json::json_pointer(at)] = value;
    return recipe;
}

// `recipe` without the value at the JSON pointer `at`.
Json without(Json recipe, const std::string& at) {
    const Json::json_pointer pointer(at);
    recipe[pointer.parent_pointer()].erase(pointer.back());
    return recipe;
}

// Every file under `folder` with its bytes and modification time, to see that nothing changed.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        files[entry.path().string()] =
            bytes.str() + "@" +
            std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count());
    }
    return files;
}

int countOf(const std::string& text, const std::string& word) {
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

// A closed unit-cube surface (outward), as OBJ text: 8 vertices, 12 triangles, offset by `shift`
// along x and scaled by `size`.
std::string cubeObj(double size = 0.1, double shift = 0.0, bool inward = false, int firstVertex = 1,
                    bool dropLastFace = false) {
    std::ostringstream obj;
    for (int i = 0; i < 8; ++i)
        obj << "v " << shift + size * (i & 1) << " " << size * ((i >> 1) & 1) << " "
            << size * ((i >> 2) & 1) << "\n";
    // Corners of each face counter-clockwise seen from outside.
    const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (int f = 0; f < (dropLastFace ? 5 : 6); ++f) {
        int c[4];
        for (int k = 0; k < 4; ++k) c[k] = faces[f][inward ? 3 - k : k] + firstVertex;
        obj << "f " << c[0] << " " << c[1] << " " << c[2] << "\n";
        obj << "f " << c[0] << " " << c[2] << " " << c[3] << "\n";
    }
    return obj.str();
}

struct BadInput {
    BadInput(std::string what_, std::string recipe_, std::string expected_,
             std::string output_ = "")
        : what(std::move(what_)),
          recipe(std::move(recipe_)),
          expected(std::move(expected_)),
          output(std::move(output_)) {}
    std::string what;      // the row's name
    std::string recipe;    // the recipe file's text
    std::string expected;  // what the message must name
    std::string output;    // the output folder ("" for the prepared previous scene folder)
};

TEST(BakeBadInput, EveryBadInputIsNamedBeforeTheLongStagesAndKeepsThePreviousFolder) {
    TempDir dir;
    // The previous scene folder every row bakes over: files that must stay as they are.
    const std::string previous = dir.file("demo/chair");
    dir.write("demo/chair/chair.U", std::string("previous mode shapes"));
    dir.write("demo/chair/chair.freq", std::string("previous frequencies"));
    dir.write("demo/chair/bake-stamp.txt", std::string("an older bake\n"));
    const auto before = snapshot(previous);

    const Json chair = readJson(kRecipes + "chair-quick.json");
    // The chair's wood under a name the built-in material table does not know, so that every
    // constant is the recipe's own.
    const Json oak = with(chair, "/material/name", "oak");
    const Json bell = readJson(kRecipes + "bell-quick.json");
    // A mesh taken as it is (no wrapping), named "chair" so that it bakes into the same folder.
    Json mesh = chair;
    mesh["shape"] = {{"kind", "mesh"}, {"source", "cube.obj"}, {"wrap", false}, {"length", 0.3}};
    auto meshFrom = [&](const std::string& file, bool wrap = false) {
        Json m = with(mesh, "/shape/source", file);
        return with(m, "/shape/wrap", wrap).dump();
    };

    // The meshes.
    dir.write("cube.obj", cubeObj());
    dir.write("open.obj", cubeObj(0.1, 0.0, false, 1, true));
    dir.write("inside_out.obj", cubeObj(0.1, 0.0, true));
    dir.write("crossing.obj", cubeObj(0.1, 0.0) + cubeObj(0.1, 0.05, false, 9));
    dir.write("collinear.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 3 0 0\nf 1 2 3\nf 1 3 4\nf 2 3 4\n");
    dir.write("one_point.ply",
              "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
              "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
              "end_header\n1 1 1\n1 1 1\n1 1 1\n3 0 1 2\n");
    dir.write("empty.obj", "");
    dir.write("no_faces.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    dir.write("huge.ply",
              "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
              "property float y\nproperty float z\nelement face 100000000\n"
              "property list uchar int vertex_indices\nend_header\n");
    {
        // A binary PLY whose vertex holds a NaN coordinate.
        std::string ply =
            "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty double x\n"
            "property double y\nproperty double z\nelement face 1\n"
            "property list uchar int vertex_indices\nend_header\n";
        const double v[9] = {0, 0, 0, 1, 0, 0, 0, std::nan(""), 0};
        ply.append(reinterpret_cast<const char*>(v), sizeof v);
        const unsigned char n = 3;
        const int face[3] = {0, 1, 2};
        ply.append(reinterpret_cast<const char*>(&n), 1);
        ply.append(reinterpret_cast<const char*>(face), sizeof face);
        dir.write("nan.ply", ply);
    }
    dir.write("a_file", "not a folder");

    const std::string chairText = chair.dump();
    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    };

    const std::vector<BadInput> rows = {
        // Missing fields.
        {"no name", without(chair, "/name").dump(), "\"name\""},
        {"no shape", without(chair, "/shape").dump(), "\"shape\""},
        {"no shape kind", without(chair, "/shape/kind").dump(), "\"shape.kind\""},
        {"no grid spacing", without(chair, "/shape/maxSpacing").dump(), "\"shape.maxSpacing\""},
        {"no bell profile spacing", without(bell, "/shape/profileSpacing").dump(),
         "\"shape.profileSpacing\""},
        {"no material", without(chair, "/material").dump(), "\"material\""},
        {"no Young's modulus", without(oak, "/material/youngsModulus").dump(),
         "\"material.youngsModulus\""},
        {"no Poisson's ratio", without(oak, "/material/poissonRatio").dump(),
         "\"material.poissonRatio\""},
        {"no density", without(oak, "/material/density").dump(), "\"material.density\""},
        {"no damping for computed presets",
         with(with(oak, "/name", "stool"), "/shape", mesh["shape"]).dump(),
         "\"material.massDamping\""},
        {"no tetrahedra", without(chair, "/tetrahedra").dump(), "\"tetrahedra\""},
        {"no volume bound", without(chair, "/tetrahedra/maxVolume").dump(),
         "\"tetrahedra.maxVolume\""},
        {"no modes", without(chair, "/modes").dump(), "\"modes\""},
        {"no mode count or band", without(chair, "/modes/count").dump(), "\"modes\" needs"},
        {"no mesh file", without(mesh, "/shape/source").dump(), "\"shape.source\""},
        // Negative values.
        {"negative density", with(chair, "/material/density", -700).dump(), "density"},
        {"negative damping",
         with(with(chair, "/material/massDamping", -1), "/material/stiffnessDamping", 0).dump(),
         "\"material.massDamping\" and \"material.stiffnessDamping\" must not be negative"},
        {"negative Young's modulus", with(chair, "/material/youngsModulus", -1.2e10).dump(),
         "Young"},
        {"negative volume bound", with(chair, "/tetrahedra/maxVolume", -1e-4).dump(),
         "\"tetrahedra.maxVolume\""},
        {"negative mode count", with(chair, "/modes/count", -8).dump(), "\"modes.count\""},
        {"negative band", with(chair, "/modes/maxFrequency", -2000).dump(),
         "\"modes.maxFrequency\""},
        {"negative grid spacing", with(chair, "/shape/maxSpacing", -0.06).dump(),
         "\"shape.maxSpacing\""},
        {"negative cells through", with(chair, "/shape/cellsThrough", -1).dump(),
         "\"shape.cellsThrough\""},
        {"negative tolerance", with(chair, "/transfer/tolerance", -0.15).dump(),
         "\"transfer.tolerance\""},
        {"negative source cap", with(chair, "/transfer/maxSources", -30).dump(),
         "\"transfer.maxSources\""},
        {"negative force unit", with(without(chair, "/strikePeak_dBFS"), "/forceUnit", -2).dump(),
         "\"forceUnit\""},
        {"negative colour", with(chair, "/material/diffuse", Json{0.6, -0.4, 0.2}).dump(),
         "\"material.diffuse\""},
        {"negative mesh length", with(mesh, "/shape/length", -0.3).dump(), "\"shape.length\""},
        // Not a number: JSON has no NaN nor infinity, and a number too large for a double is
        // refused as it is read (the parser names the file, the place and the number).
        {"NaN density", replaced(chairText, "\"density\":700", "\"density\":NaN"),
         "not valid JSON"},
        {"infinite density", replaced(chairText, "\"density\":700", "\"density\":1e999"),
         "number overflow parsing '1e999'"},
        {"infinite lip height", replaced(bell.dump(), "\"lipY\":-0.3", "\"lipY\":-1e999"),
         "number overflow parsing '-1e999'"},
        // Wrong types.
        {"mode count as text", with(chair, "/modes/count", "eight").dump(), "\"modes.count\""},
        {"fractional mode count", with(chair, "/modes/count", 8.5).dump(), "\"modes.count\""},
        {"density as text", with(chair, "/material/density", "700").dump(), "\"material.density\""},
        {"name as a number", with(chair, "/name", 42).dump(), "\"name\""},
        {"order as a boolean", with(chair, "/tetrahedra/order", true).dump(),
         "\"tetrahedra.order\""},
        {"source cap as a list", with(chair, "/transfer/maxSources", Json{30}).dump(),
         "\"transfer.maxSources\""},
        {"colour of two numbers", with(chair, "/material/ambient", Json{0.2, 0.1}).dump(),
         "\"material.ambient\""},
        {"shape as text", with(chair, "/shape", "chair").dump(), "\"shape.kind\""},
        {"unknown shape", with(chair, "/shape/kind", "table").dump(), "\"table\""},
        {"recipe as a list", Json{1, 2, 3}.dump(), "JSON object"},
        {"material as a number", with(chair, "/material", 42).dump(), "\"material\""},
        {"an unknown material name", with(chair, "/material", "brick").dump(),
         "unknown material \"brick\"; the built-in ones are steel, aluminium"},
        {"damping as text", with(chair, "/material/massDamping", "low").dump(),
         "\"material.massDamping\""},
        {"not JSON at all", "name = chair\n", "not valid JSON"},
        // Absurd values.
        {"a band of 1 MHz", with(chair, "/modes/maxFrequency", 1e6).dump(),
         "\"modes.maxFrequency\""},
        {"1e9 modes", with(chair, "/modes/count", 1000000000).dump(), "\"modes.count\""},
        {"a mode count beyond int", with(chair, "/modes/count", 10000000000LL).dump(),
         "\"modes.count\""},
        {"a micrometre chair grid", with(chair, "/shape/maxSpacing", 1e-6).dump(),
         "\"shape.maxSpacing\""},
        {"a bell of 1e8 triangles", with(bell, "/shape/profileSpacing", 1e-5).dump(),
         "\"shape.profileSpacing\""},
        {"a wrapped mesh of 1e8 triangles", with(mesh, "/shape/targetVertexCount", 50000000).dump(),
         "\"shape.targetVertexCount\""},
        {"1e13 tetrahedra", with(chair, "/tetrahedra/maxVolume", 1e-15).dump(),
         "\"tetrahedra.maxVolume\""},
        {"a wrap alpha of 1e-9", with(mesh, "/shape/relativeAlpha", 1e-9).dump(),
         "\"shape.relativeAlpha\""},
        {"1e9 fit points", with(chair, "/transfer/fitPoints", 1000000000).dump(),
         "\"transfer.fitPoints\""},
        {"a wave tier of 1,000 cells per wavelength",
         with(chair, "/transfer/wave", Json{{"cellsPerWavelength", 1000}}).dump(),
         "\"transfer.wave.cellsPerWavelength\""},
        {"a wave tier at 40 cells per wavelength up to 6 kHz, far more grid than memory",
         with(with(chair, "/transfer/wave",
                   Json{{"cellsPerWavelength", 40}, {"convergenceModes", 3}}),
              "/modes/maxFrequency", 6000)
             .dump(),
         "GB for the wave tier's grids"},
        {"differences of third order",
         with(chair, "/transfer/wave", Json{{"spatialOrder", 3}}).dump(),
         "\"transfer.wave.spatialOrder\""},
        {"a wave tier asked for by name", with(chair, "/transfer/wave", "yes").dump(),
         "\"transfer.wave\""},
        {"a force unit of 1e300 N",
         with(without(chair, "/strikePeak_dBFS"), "/forceUnit", 1e300).dump(), "\"forceUnit\""},
        {"a Poisson's ratio of 0.5", with(chair, "/material/poissonRatio", 0.5).dump(), "Poisson"},
        // Meshes taken as they are, and meshes no wrap can use.
        {"an open mesh", meshFrom("open.obj"), "open.obj: the mesh is not a closed manifold"},
        {"an inside-out mesh", meshFrom("inside_out.obj"), "inside out"},
        {"a self-intersecting mesh", meshFrom("crossing.obj"), "crossing.obj: the mesh intersects"},
        {"a mesh of collinear points", meshFrom("collinear.obj", true),
         "collinear.obj: every triangle of the mesh is degenerate"},
        {"a mesh of one point", meshFrom("one_point.ply", true),
         "one_point.ply: every triangle of the mesh is degenerate"},
        {"an empty mesh file", meshFrom("empty.obj", true), "empty.obj: the mesh has no faces"},
        {"a mesh without faces", meshFrom("no_faces.obj"), "no_faces.obj: the mesh has no faces"},
        {"a mesh declaring 1e8 faces", meshFrom("huge.ply", true),
         "huge.ply: the PLY header declares 100000000 faces"},
        {"a NaN coordinate", meshFrom("nan.ply", true), "nan.ply: vertex 3"},
        {"a missing mesh file", meshFrom("missing.obj"), "missing.obj"},
        {"a mesh in an unknown format", meshFrom("a_file"), "a_file: unknown mesh format"},
        // An output folder that cannot be made (its parent is a file).
        {"an output folder that cannot be written", chairText, "cannot create the folder",
         dir.file("a_file/chair")},
    };

    for (const BadInput& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string recipe = dir.write("recipe.json", row.recipe);
        const std::string out = row.output.empty() ? previous : row.output;
        std::string output;
        const auto start = std::chrono::steady_clock::now();
        const int status = runCommand(kBaker + " " + recipe + " " + out, &output);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(status, 1) << output;
        EXPECT_EQ(countOf(output, "error:"), 1) << output;
        EXPECT_NE(output.find(row.expected), std::string::npos) << output;
        EXPECT_EQ(output.find("tetrahedra   ..."), std::string::npos)
            << "refused only after the surface: " << output;
        EXPECT_LT(seconds, 30.0) << output;
        EXPECT_EQ(snapshot(previous), before);
        for (const auto& entry : fs::directory_iterator(dir.file("demo")))
            EXPECT_EQ(entry.path().filename().string().find(".baking-"), std::string::npos)
                << "temporary folder left behind: " << entry.path();
    }

    // The same mesh, closed, outward and clean, does bake from this table's recipe: the rows
    // above fail for their one fault.
    const std::string good = dir.write("good.json", with(mesh, "/modes/count", 2).dump());
    std::string output;
    EXPECT_EQ(runCommand(kBaker + " --modes-only " + good + " " + dir.file("good/chair"), &output),
              0)
        << output;
}

}  // namespace
