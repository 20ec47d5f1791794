// The recipe of a command-line bake (see command_line_recipe.h).
#include "tools/bake/recipe/command_line_recipe.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/modes/material_table.h"
#include "tools/bake/surface/mesh_import.h"
#include "tools/bake/surface/surface_mesh.h"

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::json;

// The transfer settings of the demo's full-band recipes (tools/bake/recipes/*.json): tier A
// where its six boundary elements per wavelength fit, the wave tier beyond, its accuracy
// measured against tier A an octave below tier A's top and on a finer grid at the band's top.
constexpr double kTolerance = 0.05;
constexpr double kElementsPerWavelength = 6.0;
constexpr int kMinElements = 1600;
constexpr int kMaxElements = 6000;
// Surface triangles per boundary element the transfer needs, at least (room for the ladder of
// surface sizes, 1.4 apart).
constexpr double kSurfaceMargin = 1.25;
// The wrapped surface's vertices, at least.
constexpr int kMinSurfaceVertices = 500;

// x rounded to three significant digits, so the written recipe reads well.
double rounded(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", x);
    return std::strtod(text, nullptr);
}

std::string format(const char* pattern, double a, double b = 0, double c = 0, double d = 0) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, a, b, c, d);
    return text;
}

// The regular tetrahedron of edge h has volume h^3 / (6 sqrt 2).
double tetrahedronVolume(double edge) { return edge * edge * edge / (6.0 * std::sqrt(2.0)); }
// An equilateral triangle of edge h has area (sqrt 3 / 4) h^2; a closed surface of T triangles
// has about T / 2 vertices.
double surfaceVertices(double area, double edge) {
    return area / (std::sqrt(3.0) / 4.0 * edge * edge) / 2.0;
}

std::string sceneName(const std::string& outputFolder) {
    fs::path folder = fs::path(outputFolder).lexically_normal();
    if (folder.filename().empty()) folder = folder.parent_path();
    const std::string name = folder.filename().string();
    const bool plain =
        !name.empty() && name != "." && name != ".." &&
        std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
        });
    if (!plain)
        throw BakeError(outputFolder +
                        ": the output folder's name is the scene's name and the stem of its "
                        "files: use letters, digits, '-' and '_' only (e.g. build/demo/ring)");
    if (isBuiltInScene(name))
        throw BakeError(outputFolder + ": \"" + name +
                        "\" is one of the demo's own scenes, whose fixed presets (camera, "
                        "damping, strike) would be used instead of the object's; name the folder "
                        "after the object (e.g. build/demo/ring)");
    return name;
}

}  // namespace

std::string commandLineRecipePath(const std::string& outputFolder) {
    return (fs::path(outputFolder) / "recipe.json").string();
}

std::string commandLineRecipe(const CommandLineRecipeOptions& options,
                              const std::string& outputFolder) {
    const MaterialPreset* material = findMaterialPreset(options.materialName);
    if (material == nullptr)
        throw BakeError("--material " + options.materialName +
                        ": unknown material; the built-in ones are " + materialPresetNames());
    const std::string name = sceneName(outputFolder);

    // The object as placed: its largest extent L, surface area and volume.
    const SurfaceMesh soup = readTriangleSoup(options.meshFile);
    Eigen::Vector3d lower, upper;
    boundingBox(soup, lower, upper);
    const double sourceExtent = (upper - lower).maxCoeff();
    if (!(sourceExtent > 0.0))
        throw BakeError(options.meshFile + ": the mesh has no extent (all its points coincide)");
    if (options.size_m <= 0.0 &&
        (sourceExtent < kSmallestPlausibleObject_m || sourceExtent > kLargestPlausibleObject_m))
        throw BakeError(options.meshFile +
                        format(": the mesh is %.4g units across, implausible in metres for a "
                               "struck object (%g m to %g m); give its size with --size METRES "
                               "(a mesh in millimetres 200 units across: --size 0.2)",
                               sourceExtent, kSmallestPlausibleObject_m,
                               kLargestPlausibleObject_m));
    const double extent = options.size_m > 0.0 ? options.size_m : sourceExtent;
    const double scale = extent / sourceExtent;
    double area = 0.0;
    for (const auto& t : soup.triangles)
        area += 0.5 * (soup.positions[t[1]] - soup.positions[t[0]])
                          .cross(soup.positions[t[2]] - soup.positions[t[0]])
                          .norm();
    area *= scale * scale;
    // The enclosed volume when the mesh bounds a solid, else half its bounding box (the wrap
    // closes it).
    const Eigen::Vector3d box = (upper - lower) * scale;
    const double volume = closedManifoldProblem(soup).empty()
                              ? std::abs(enclosedVolume(soup)) * scale * scale * scale
                              : 0.5 * box.x() * box.y() * box.z();

    // The band the meshes are made for.
    const double top = options.band_Hz > 0.0 ? options.band_Hz : kDefaultCommandLineBand_Hz;
    const std::string bandOption =
        options.band_Hz > 0.0 ? format("--band %g", options.band_Hz)
                              : format("the default band (%g Hz)", kDefaultCommandLineBand_Hz);
    // --modes takes the default band, so the fix is a band in its place.
    const std::string bandFix = options.modeCount > 0 ? "--band %.0f or lower (in place of --modes)"
                                                      : "--band %.0f or lower";
    const Material& elastic = material->elastic;
    const double shearSpeed = std::sqrt(shearModulus(elastic) / elastic.density);  // c_s, m/s
    const double shearWavelength = shearSpeed / top;
    // The finest edge one bake can hold, by the tetrahedra and by the surface.
    const double finestEdge =
        std::max(std::cbrt(6.0 * std::sqrt(2.0) * volume / kMaxCommandLineTetrahedra),
                 std::sqrt(area / (2.0 * kMaxCommandLineSurfaceVertices * std::sqrt(3.0) / 4.0)));
    const double perWavelength = shearWavelength / finestEdge;
    if (perWavelength < kTetrahedraPerShearWavelength)
        throw BakeError(
            bandOption +
            format(": the object's meshes cannot carry it: its shear waves of %.3g mm at the "
                   "band's top would get %.2g quadratic tetrahedra per wavelength (at least %g "
                   "are needed for modes within a few per cent)",
                   shearWavelength * 1e3, perWavelength, kTetrahedraPerShearWavelength) +
            format(", as a bake holds at most %.0f tetrahedra and %.0f surface vertices; use ",
                   kMaxCommandLineTetrahedra, kMaxCommandLineSurfaceVertices) +
            format(bandFix.c_str(),
                   std::floor(shearSpeed / (kTetrahedraPerShearWavelength * finestEdge))) +
            ", or a smaller --size");
    const double edge = std::max(
        finestEdge, std::min(shearWavelength / kTetrahedraPerShearWavelength, extent / 8.0));

    // The boundary elements of tier A, at most kMaxElements of them: the wave tier takes the
    // modes beyond, from the surface as it is.
    const double elements = std::clamp(elementsNeeded(area, top, kElementsPerWavelength),
                                       double(kMinElements), double(kMaxElements));
    const double acousticVertices = kSurfaceMargin * elements / 2.0;
    const int targetVertices = static_cast<int>(std::ceil(
        std::max({surfaceVertices(area, edge), acousticVertices, double(kMinSurfaceVertices)})));

    Json modes = {{"maxFrequency", top}};
    if (options.modeCount > 0) modes["count"] = options.modeCount;
    const Json recipe = {
        {"name", name},
        {"shape",
         {{"kind", "mesh"},
          {"source", fs::absolute(options.meshFile).lexically_normal().string()},
          {"relativeAlpha", 0.01},
          {"relativeOffset", 0.0005},
          {"targetVertexCount", targetVertices},
          {"length", extent},
          {"center", {0, 0, 0}}}},
        {"material", material->name},
        {"tetrahedra", {{"maxVolume", rounded(tetrahedronVolume(edge))}, {"radiusEdgeRatio", 1.4}}},
        {"modes", modes},
        {"transfer",
         {{"tolerance", kTolerance},
          {"maxSources", 80},
          {"elementsPerWavelength", kElementsPerWavelength},
          {"minElements", kMinElements},
          {"maxElements", kMaxElements},
          {"wave", {{"overlapOctaves", 1}, {"convergenceModes", 3}}}}},
        {"forceUnit", "auto"},
        {"strikePeak_dBFS", -12}};
    return recipe.dump(2) + "\n";
}
