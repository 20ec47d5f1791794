// JSON recipe reading and checking (see recipe.h).
//
// Index
//   [SECTION] Fields and their common checks
//   [SECTION] The steps of readRecipeText
//   [SECTION] readRecipe, readRecipeText, transferListName
#include "tools/bake/recipe/recipe.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/modes/material_table.h"
#include "tools/bake/surface/chair_shape.h"

namespace {

using Json = nlohmann::json;

// [SECTION] Fields and their common checks

// The value at `key` inside `object`, converted; `where` is the dotted path for messages.
// An int must be a JSON integer within int's range: JSON's 1.5 or 1e10 would otherwise be cut or
// wrapped to some other count without a word.
template <typename T>
T field(const Json& object, const char* key, const std::string& where, const std::string& path) {
    if (!object.contains(key)) throw BakeError(path + ": missing \"" + where + key + "\"");
    const Json& value = object.at(key);
    if constexpr (std::is_same_v<T, int>) {
        const bool whole = value.is_number_integer() &&
                           (value.is_number_unsigned() ? value.get<uint64_t>() <= INT_MAX
                                                       : value.get<int64_t>() >= INT_MIN &&
                                                             value.get<int64_t>() <= INT_MAX);
        if (!whole)
            throw BakeError(path + ": \"" + where + key + "\" must be a whole number (got " +
                            value.dump() + ")");
        return static_cast<int>(value.get<int64_t>());
    } else {
        try {
            return value.get<T>();
        } catch (const Json::exception&) {
            throw BakeError(path + ": \"" + where + key + "\" has the wrong type");
        }
    }
}

template <typename T>
T optionalField(const Json& object, const char* key, T fallback, const std::string& where,
                const std::string& path) {
    return object.contains(key) ? field<T>(object, key, where, path) : fallback;
}

Eigen::Vector3d vector3(const Json& object, const char* key, const Eigen::Vector3d& fallback,
                        const std::string& where, const std::string& path) {
    if (!object.contains(key)) return fallback;
    const auto values = field<std::vector<double>>(object, key, where, path);
    if (values.size() != 3 || !std::isfinite(values[0]) || !std::isfinite(values[1]) ||
        !std::isfinite(values[2]))
        throw BakeError(path + ": \"" + where + key + "\" needs three finite numbers");
    return Eigen::Vector3d(values[0], values[1], values[2]);
}

// A colour of the material library: three numbers from 0 to 1.
Eigen::Vector3d colour(const Json& object, const char* key, const Eigen::Vector3d& fallback,
                       const std::string& path) {
    const Eigen::Vector3d c = vector3(object, key, fallback, "material.", path);
    if (!(c.minCoeff() >= 0.0 && c.maxCoeff() <= 1.0))
        throw BakeError(path + ": \"material." + key + "\" needs three numbers from 0 to 1");
    return c;
}

void requirePositive(double value, const std::string& name, const std::string& path) {
    if (!(std::isfinite(value) && value > 0.0))
        throw BakeError(path + ": \"" + name + "\" must be positive");
}

// Refuses a recipe whose surface would have more than kMaxSurfaceTriangles triangles (`field` is
// the recipe field that sets the resolution).
void requireSurfaceWithinReach(double triangles, const std::string& field,
                               const std::string& path) {
    if (triangles <= kMaxSurfaceTriangles) return;
    char text[256];
    std::snprintf(text, sizeof text,
                  ": \"%s\" makes a surface of about %.3g triangles, more than the %.0f the "
                  "baker can mesh and solve; make it coarser",
                  field.c_str(), triangles, kMaxSurfaceTriangles);
    throw BakeError(path + text);
}

// Triangles of the procedural bell's surface, roughly: rings along the outer and inner profile
// (about twice the height plus the lip's radius each), every ring as fine as the lip's.
double bellTriangleEstimate(const BellParameters& b) {
    const double profilePoints = 2.0 * (2.0 * b.height + b.lipDiameter) / b.profileSpacing;
    const double ringPoints = std::max(8.0, kPi * b.lipDiameter / b.ringSpacing);
    return 2.0 * profilePoints * ringPoints;
}

// [SECTION] The steps of readRecipeText: the recipe's sections, in the order they are read and
// checked (the first problem found is the one reported)

// The recipe text as JSON, which must be an object.
Json parseRecipe(const std::string& text, const std::string& path) {
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::exception& e) {
        // A syntax error, and also a number too large for a double (out_of_range 406).
        throw BakeError(path + ": not valid JSON: " + e.what());
    }
    if (!json.is_object()) throw BakeError(path + ": the recipe must be a JSON object");
    return json;
}

// "name": the stem of every data file, so neither empty nor holding a separator or a blank.
void readName(const Json& json, const std::string& path, Recipe& recipe) {
    recipe.name = field<std::string>(json, "name", "", path);
    if (recipe.name.empty() || recipe.name.find_first_of("/\\ \t") != std::string::npos)
        throw BakeError(path + ": \"name\" must be a plain file stem");
}

// "shape" of kind "bell": the procedural bell's proportions and resolution, positive, and a
// surface within the baker's reach.
void readBellShape(const Json& shape, const std::string& path, Recipe& recipe) {
    recipe.shape = ShapeKind::bell;
    BellParameters& b = recipe.bell;
    b.lipDiameter = optionalField(shape, "lipDiameter", b.lipDiameter, "shape.", path);
    b.height = optionalField(shape, "height", b.height, "shape.", path);
    b.lipY = optionalField(shape, "lipY", b.lipY, "shape.", path);
    b.profileSpacing = field<double>(shape, "profileSpacing", "shape.", path);
    b.ringSpacing = field<double>(shape, "ringSpacing", "shape.", path);
    recipe.bellFixtures = optionalField(shape, "fixtures", true, "shape.", path);
    for (auto [value, name] : {std::pair{b.lipDiameter, "shape.lipDiameter"},
                               {b.height, "shape.height"},
                               {b.profileSpacing, "shape.profileSpacing"},
                               {b.ringSpacing, "shape.ringSpacing"}})
        requirePositive(value, name, path);
    if (!std::isfinite(b.lipY)) throw BakeError(path + ": \"shape.lipY\" must be finite");
    requireSurfaceWithinReach(bellTriangleEstimate(b), "shape.profileSpacing", path);
}

// "shape" of kind "chair": the box union's grid, its spacing positive, at least one cell across
// every box, and at most kMaxGridCells cells.
void readChairShape(const Json& shape, const std::string& path, Recipe& recipe) {
    recipe.shape = ShapeKind::chair;
    recipe.chairGrid.maxSpacing = field<double>(shape, "maxSpacing", "shape.", path);
    recipe.chairGrid.cellsThrough = optionalField(shape, "cellsThrough", 3, "shape.", path);
    requirePositive(recipe.chairGrid.maxSpacing, "shape.maxSpacing", path);
    if (recipe.chairGrid.cellsThrough < 1)
        throw BakeError(path + ": \"shape.cellsThrough\" must be at least 1");
    // The grid's cells are all held in memory, and its surface grows with them.
    const double cells = boxUnionGridCellCount(chairBoxes(), recipe.chairGrid);
    if (cells > kMaxGridCells) {
        char text[256];
        std::snprintf(text, sizeof text,
                      ": \"shape.maxSpacing\" and \"shape.cellsThrough\" lay a grid of %.3g "
                      "cells over the chair, more than the %.0f the baker takes",
                      cells, kMaxGridCells);
        throw BakeError(path + text);
    }
}

// "shape" of kind "mesh": the source file (relative to the recipe's folder), the wrap's settings
// and the placement, each within the range the wrap and the later stages can take.
void readMeshShape(const Json& shape, const std::string& path, Recipe& recipe) {
    recipe.shape = ShapeKind::mesh;
    const std::string source = field<std::string>(shape, "source", "shape.", path);
    const std::filesystem::path sourcePath(source);
    recipe.sourceMesh =
        sourcePath.is_absolute()
            ? source
            : (std::filesystem::path(path).parent_path() / sourcePath).lexically_normal().string();
    recipe.wrap.relativeAlpha =
        optionalField(shape, "relativeAlpha", recipe.wrap.relativeAlpha, "shape.", path);
    recipe.wrap.relativeOffset =
        optionalField(shape, "relativeOffset", recipe.wrap.relativeOffset, "shape.", path);
    recipe.wrap.targetVertexCount =
        optionalField(shape, "targetVertexCount", recipe.wrap.targetVertexCount, "shape.", path);
    recipe.placementLength = optionalField(shape, "length", 0.0, "shape.", path);
    recipe.placementCenter = vector3(shape, "center", recipe.placementCenter, "shape.", path);
    recipe.wrapMesh = optionalField(shape, "wrap", true, "shape.", path);
    requirePositive(recipe.wrap.relativeAlpha, "shape.relativeAlpha", path);
    requirePositive(recipe.wrap.relativeOffset, "shape.relativeOffset", path);
    // Alpha wrapping's work grows as 1/alpha^2 (the surface it makes): below a thousandth of the
    // diagonal it runs for hours; above the diagonal it only makes the hull coarser.
    if (recipe.wrap.relativeAlpha < kMinRelativeAlpha || recipe.wrap.relativeAlpha > 1.0)
        throw BakeError(path + ": \"shape.relativeAlpha\" must lie from 0.001 to 1");
    if (recipe.wrap.relativeOffset > 0.1)
        throw BakeError(path + ": \"shape.relativeOffset\" must be at most 0.1");
    if (recipe.wrap.targetVertexCount < 0)
        throw BakeError(path + ": \"shape.targetVertexCount\" must not be negative");
    // About two triangles per vertex on a closed surface.
    requireSurfaceWithinReach(2.0 * recipe.wrap.targetVertexCount, "shape.targetVertexCount", path);
    if (!(std::isfinite(recipe.placementLength) && recipe.placementLength >= 0.0))
        throw BakeError(path + ": \"shape.length\" must not be negative");
}

// "shape": its "kind" picks the reader of the rest.
void readShape(const Json& json, const std::string& path, Recipe& recipe) {
    const Json shape = field<Json>(json, "shape", "", path);
    const std::string kind = field<std::string>(shape, "kind", "shape.", path);
    if (kind == "bell") {
        readBellShape(shape, path, recipe);
    } else if (kind == "chair") {
        readChairShape(shape, path, recipe);
    } else if (kind == "mesh") {
        readMeshShape(shape, path, recipe);
    } else {
        throw BakeError(path + ": unknown shape kind \"" + kind + "\" (bell, chair or mesh)");
    }
}

// "material" as an object: a bare name stands for {"name": ...}.
Json materialObject(const Json& json, const std::string& path) {
    Json material = field<Json>(json, "material", "", path);
    if (material.is_string()) material = Json{{"name", material.get<std::string>()}};
    if (!material.is_object())
        throw BakeError(path + ": \"material\" must be a material name or an object");
    return material;
}

// The entry of the built-in table that "material.name" names, copied into the recipe (elastic
// constants, damping, colours), or null when the table has no such name; a bare unknown name is
// refused with the table's names.
const MaterialPreset* applyMaterialPreset(const Json& material, const std::string& path,
                                          Recipe& recipe) {
    recipe.materialName =
        optionalField<std::string>(material, "name", recipe.materialName, "material.", path);
    const MaterialPreset* preset = findMaterialPreset(recipe.materialName);
    if (preset != nullptr) {
        recipe.material = preset->elastic;
        recipe.hasDamping = true;
        recipe.massDamping = preset->massDamping;
        recipe.stiffnessDamping = preset->stiffnessDamping;
        recipe.ambient = preset->ambient;
        recipe.diffuse = preset->diffuse;
        recipe.specular = preset->specular;
        recipe.shininess = preset->shininess;
    } else if (material.size() == 1 && material.contains("name")) {
        throw BakeError(path + ": \"material\": unknown material \"" + recipe.materialName +
                        "\"; the built-in ones are " + materialPresetNames() +
                        " (or give \"youngsModulus\", \"poissonRatio\" and \"density\")");
    }
    return preset;
}

// The elastic constants E, nu and rho: each overrides the preset's, and all three are required
// without a preset; then checked (E > 0, -1 < nu < 0.5, rho > 0).
void readElasticConstants(const Json& material, const MaterialPreset* preset,
                          const std::string& path, Recipe& recipe) {
    auto constant = [&](const char* key, double fallback) {
        return preset != nullptr ? optionalField(material, key, fallback, "material.", path)
                                 : field<double>(material, key, "material.", path);
    };
    recipe.material.youngsModulus = constant("youngsModulus", recipe.material.youngsModulus);
    recipe.material.poissonRatio = constant("poissonRatio", recipe.material.poissonRatio);
    recipe.material.density = constant("density", recipe.material.density);
    checkMaterial(recipe.material, path);
}

// Rayleigh damping C = alpha M + beta K: "massDamping" (alpha, 1/s) and "stiffnessDamping" (beta,
// s) come together and are not negative; a scene with computed presets needs them (from the
// table or here).
void readDamping(const Json& material, const std::string& path, Recipe& recipe) {
    if (material.contains("massDamping") || material.contains("stiffnessDamping")) {
        recipe.massDamping = field<double>(material, "massDamping", "material.", path);
        recipe.stiffnessDamping = field<double>(material, "stiffnessDamping", "material.", path);
        recipe.hasDamping = true;
        if (!(std::isfinite(recipe.massDamping) && recipe.massDamping >= 0.0 &&
              std::isfinite(recipe.stiffnessDamping) && recipe.stiffnessDamping >= 0.0))
            throw BakeError(path +
                            ": \"material.massDamping\" and \"material.stiffnessDamping\" "
                            "must not be negative");
    }
    if (!isBuiltInScene(recipe.name) && !recipe.hasDamping)
        throw BakeError(path + ": \"material.massDamping\" and \"material.stiffnessDamping\" " +
                        "are needed: the presets of a scene not named bell, chair or dragon " +
                        "take the material's Rayleigh damping (or name a built-in material: " +
                        materialPresetNames() + ")");
}

// The look for the MTL file: colours from 0 to 1 and a shininess not negative.
void readAppearance(const Json& material, const std::string& path, Recipe& recipe) {
    recipe.ambient = colour(material, "ambient", recipe.ambient, path);
    recipe.diffuse = colour(material, "diffuse", recipe.diffuse, path);
    recipe.specular = colour(material, "specular", recipe.specular, path);
    recipe.shininess = optionalField(material, "shininess", recipe.shininess, "material.", path);
    if (!(std::isfinite(recipe.shininess) && recipe.shininess >= 0.0))
        throw BakeError(path + ": \"material.shininess\" must not be negative");
}

// "material": a name of the built-in table, or an object whose fields override the named entry's
// (all three constants are required when the name is not in the table).
void readMaterial(const Json& json, const std::string& path, Recipe& recipe) {
    const Json material = materialObject(json, path);
    const MaterialPreset* preset = applyMaterialPreset(material, path, recipe);
    readElasticConstants(material, preset, path, recipe);
    readDamping(material, path, recipe);
    readAppearance(material, path, recipe);
}

// "tetrahedra": the largest volume (positive), the radius-edge bound (at least 1) and the order
// (1 linear, 2 quadratic).
void readTetrahedra(const Json& json, const std::string& path, Recipe& recipe) {
    const Json tets = field<Json>(json, "tetrahedra", "", path);
    recipe.tetrahedra.maxVolume = field<double>(tets, "maxVolume", "tetrahedra.", path);
    recipe.tetrahedra.radiusEdgeRatio =
        optionalField(tets, "radiusEdgeRatio", 1.4, "tetrahedra.", path);
    requirePositive(recipe.tetrahedra.maxVolume, "tetrahedra.maxVolume", path);
    if (!(recipe.tetrahedra.radiusEdgeRatio >= 1.0 &&
          std::isfinite(recipe.tetrahedra.radiusEdgeRatio)))
        throw BakeError(path + ": \"tetrahedra.radiusEdgeRatio\" must be a number of at least 1");
    recipe.tetrahedra.order = optionalField(tets, "order", 2, "tetrahedra.", path);
    if (recipe.tetrahedra.order != 1 && recipe.tetrahedra.order != 2)
        throw BakeError(path + ": \"tetrahedra.order\" must be 1 (linear) or 2 (quadratic)");
}

// "modes": "count" (1 to kMaxRecipeModes) or "maxFrequency" (positive, at most the output's
// Nyquist frequency), or both.
void readModes(const Json& json, const std::string& path, Recipe& recipe) {
    const Json modes = field<Json>(json, "modes", "", path);
    recipe.modes.modeCount = optionalField(modes, "count", 0, "modes.", path);
    recipe.modes.maxFrequency = optionalField(modes, "maxFrequency", 0.0, "modes.", path);
    if (!modes.contains("count") && !modes.contains("maxFrequency"))
        throw BakeError(path + ": \"modes\" needs \"count\" or \"maxFrequency\" (or both)");
    if (modes.contains("count") && recipe.modes.modeCount < 1)
        throw BakeError(path + ": \"modes.count\" must be at least 1");
    if (recipe.modes.modeCount > kMaxRecipeModes)
        throw BakeError(path + ": \"modes.count\" must be at most " +
                        std::to_string(kMaxRecipeModes) +
                        ", the most modes the program plays in real time");
    if (modes.contains("maxFrequency")) {
        requirePositive(recipe.modes.maxFrequency, "modes.maxFrequency", path);
        if (recipe.modes.maxFrequency > kMaxRecipeFrequency_Hz)
            throw BakeError(path +
                            ": \"modes.maxFrequency\" must be at most 22050 Hz, the highest "
                            "frequency the program's 44100 Hz output can play");
    }
}

// "transfer.check": the boundary element check of the high-frequency tier, with its own
// resolution and at most 100 checked modes per octave.
void readTransferCheck(const Json& transfer, const std::string& path, TransferSettings& t) {
    const Json check = field<Json>(transfer, "check", "transfer.", path);
    t.checkModesPerOctave =
        optionalField(check, "modesPerOctave", t.checkModesPerOctave, "transfer.check.", path);
    t.checkElementsPerWavelength = optionalField(
        check, "elementsPerWavelength", t.checkElementsPerWavelength, "transfer.check.", path);
    t.checkMaxElements =
        optionalField(check, "maxElements", t.checkMaxElements, "transfer.check.", path);
    if (!(t.checkModesPerOctave >= 0 && t.checkModesPerOctave <= 100))
        throw BakeError(path + ": \"transfer.check.modesPerOctave\" must lie in [0, 100]");
    requirePositive(t.checkElementsPerWavelength, "transfer.check.elementsPerWavelength", path);
    if (t.checkMaxElements < 0)
        throw BakeError(path + ": \"transfer.check.maxElements\" must not be negative");
}

// "transfer.wave": false (no wave tier), true, or the wave tier's settings: its grid's cells per
// wavelength (6 to 40), the order of its differences (2 or 4), the overlap with tier A (0 to 3
// octaves) and the modes solved again on a finer grid (0 to 20).
void readTransferWave(const Json& transfer, const std::string& path, TransferSettings& t) {
    const Json& wave = transfer["wave"];
    if (wave.is_boolean()) {
        t.waveTier = wave.get<bool>();
        return;
    }
    if (!wave.is_object())
        throw BakeError(path + ": \"transfer.wave\" must be true, false or an object");
    t.waveTier = true;
    t.waveCellsPerWavelength =
        optionalField(wave, "cellsPerWavelength", t.waveCellsPerWavelength, "transfer.wave.", path);
    t.waveSpatialOrder =
        optionalField(wave, "spatialOrder", t.waveSpatialOrder, "transfer.wave.", path);
    const std::string boundary =
        optionalField(wave, "boundary", std::string(t.waveCutCells ? "cut" : "staircase"),
                      "transfer.wave.", path);
    if (boundary != "cut" && boundary != "staircase")
        throw BakeError(path + ": \"transfer.wave.boundary\" must be \"cut\" or \"staircase\"");
    t.waveCutCells = boundary == "cut";
    t.waveOverlapOctaves =
        optionalField(wave, "overlapOctaves", t.waveOverlapOctaves, "transfer.wave.", path);
    t.waveConvergenceModes =
        optionalField(wave, "convergenceModes", t.waveConvergenceModes, "transfer.wave.", path);
    if (!(t.waveCellsPerWavelength >= 6 && t.waveCellsPerWavelength <= 40))
        throw BakeError(path + ": \"transfer.wave.cellsPerWavelength\" must lie in [6, 40]");
    if (t.waveSpatialOrder != 2 && t.waveSpatialOrder != 4)
        throw BakeError(path + ": \"transfer.wave.spatialOrder\" must be 2 or 4");
    if (!(t.waveOverlapOctaves >= 0 && t.waveOverlapOctaves <= 3))
        throw BakeError(path + ": \"transfer.wave.overlapOctaves\" must lie in [0, 3]");
    if (t.waveConvergenceModes < 0 || t.waveConvergenceModes > 20)
        throw BakeError(path + ": \"transfer.wave.convergenceModes\" must lie from 0 to 20");
}

// Checks the transfer's settings once all are read: the source cap, the element counts of the
// tiers, the high-frequency tier's threshold and tolerance, the group width and the fit's samples.
void checkTransferSettings(const TransferSettings& t, const std::string& path) {
    if (t.maxSources < 1 || t.maxSources > kMaxRecipeSources)
        throw BakeError(path + ": \"transfer.maxSources\" must lie from 1 to " +
                        std::to_string(kMaxRecipeSources));
    requirePositive(t.elementsPerWavelength, "transfer.elementsPerWavelength", path);
    if (t.minElements < 20 || t.maxElements < t.minElements)
        throw BakeError(path +
                        ": \"transfer.minElements\" must be at least 20 and at most "
                        "\"transfer.maxElements\"");
    if (t.hmatrixMaxElements < 0 ||
        (t.hmatrixMaxElements > 0 && t.hmatrixMaxElements < t.minElements))
        throw BakeError(path +
                        ": \"transfer.hmatrixMaxElements\" must be 0 (no compressed tier) or "
                        "at least \"transfer.minElements\"");
    if (!(std::isfinite(t.highFrequencyKD) && t.highFrequencyKD >= 0.0))
        throw BakeError(path +
                        ": \"transfer.highFrequencyKD\" must be 0 (no high-frequency "
                        "tier) or positive");
    if (!(t.highFrequencyTolerance > 0.0 && t.highFrequencyTolerance < 1.0))
        throw BakeError(path + ": \"transfer.highFrequencyTolerance\" must lie between 0 and 1");
    if (!(t.groupWidth >= 0.0 && t.groupWidth < 0.5))
        throw BakeError(path + ": \"transfer.groupWidth\" must lie in [0, 0.5)");
    // The fit needs more samples than its largest number of unknowns (4 per source).
    if (t.fitPointCount < 4 * t.maxSources + 20 || t.heldOutPointCount < 20)
        throw BakeError(path +
                        ": \"transfer.fitPoints\" must exceed 4 x maxSources and "
                        "\"transfer.heldOutPoints\" be at least 20");
    // The fit's matrix holds fitPoints x 4 maxSources complex numbers.
    if (t.fitPointCount > kMaxRecipeFitPoints || t.heldOutPointCount > kMaxRecipeFitPoints)
        throw BakeError(path + ": \"transfer.fitPoints\" and \"transfer.heldOutPoints\" " +
                        "must be at most " + std::to_string(kMaxRecipeFitPoints));
}

// "transfer" (optional, each field overriding the default): the fit's tolerance (between 0 and
// 1, checked first), the sources, the boundary element tiers, the high-frequency tier, the
// grouping, the check and the fit's samples; then the checks of the whole.
void readTransfer(const Json& json, const std::string& path, Recipe& recipe) {
    if (!json.contains("transfer")) return;
    const Json& transfer = json["transfer"];
    TransferSettings& t = recipe.transfer;
    t.tolerance = optionalField(transfer, "tolerance", t.tolerance, "transfer.", path);
    if (!(t.tolerance > 0.0 && t.tolerance < 1.0))
        throw BakeError(path + ": \"transfer.tolerance\" must lie between 0 and 1");
    t.maxSources = optionalField(transfer, "maxSources", t.maxSources, "transfer.", path);
    t.elementsPerWavelength = optionalField(transfer, "elementsPerWavelength",
                                            t.elementsPerWavelength, "transfer.", path);
    t.minElements = optionalField(transfer, "minElements", t.minElements, "transfer.", path);
    t.maxElements = optionalField(transfer, "maxElements", t.maxElements, "transfer.", path);
    t.hmatrixMaxElements =
        optionalField(transfer, "hmatrixMaxElements", t.hmatrixMaxElements, "transfer.", path);
    t.highFrequencyKD =
        optionalField(transfer, "highFrequencyKD", t.highFrequencyKD, "transfer.", path);
    t.highFrequencyTolerance = optionalField(transfer, "highFrequencyTolerance",
                                             t.highFrequencyTolerance, "transfer.", path);
    t.highFrequencyFirst =
        optionalField(transfer, "highFrequencyFirst", t.highFrequencyFirst, "transfer.", path);
    t.groupWidth = optionalField(transfer, "groupWidth", t.groupWidth, "transfer.", path);
    if (transfer.contains("check")) readTransferCheck(transfer, path, t);
    if (transfer.contains("wave")) readTransferWave(transfer, path, t);
    t.fitPointCount = optionalField(transfer, "fitPoints", t.fitPointCount, "transfer.", path);
    t.heldOutPointCount =
        optionalField(transfer, "heldOutPoints", t.heldOutPointCount, "transfer.", path);
    checkTransferSettings(t, path);
}

// "forceUnit": a positive number of newtons (at most kMaxForceUnit_N), or "auto"; and
// "strikePeak_dBFS", the automatic unit's target, in (-120, 0] (a built-in scene takes it only
// with "auto").
void readLoudness(const Json& json, const std::string& path, Recipe& recipe) {
    LoudnessOptions& loudness = recipe.loudness;
    if (json.contains("forceUnit")) {
        const Json& unit = json["forceUnit"];
        if (unit.is_string() && unit.get<std::string>() == "auto") {
            // For a scene with computed presets the unit stays 1 N and the preset magnitude is
            // calibrated instead (output/object_presets.h).
            loudness.automatic = true;
        } else if (unit.is_number()) {
            loudness.forceUnit = unit.get<double>();
            requirePositive(loudness.forceUnit, "forceUnit", path);
            if (loudness.forceUnit > kMaxForceUnit_N)
                throw BakeError(path + ": \"forceUnit\" must be at most 1e6 N");
        } else {
            throw BakeError(path + ": \"forceUnit\" must be a positive number or \"auto\"");
        }
    }
    if (json.contains("strikePeak_dBFS")) {
        if (!loudness.automatic && isBuiltInScene(recipe.name))
            throw BakeError(path +
                            ": \"strikePeak_dBFS\" is the target of \"forceUnit\": \"auto\"");
        loudness.strikePeak_dBFS = field<double>(json, "strikePeak_dBFS", "", path);
        if (!(loudness.strikePeak_dBFS > -120.0 && loudness.strikePeak_dBFS <= 0.0))
            throw BakeError(path + ": \"strikePeak_dBFS\" must lie in (-120, 0]");
    }
}

}  // namespace

// [SECTION] readRecipe, readRecipeText, transferListName

bool isBuiltInScene(const std::string& name) {
    return name == "bell" || name == "chair" || name == "dragon";
}

Recipe readRecipe(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BakeError(path + ": cannot open the recipe");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return readRecipeText(bytes.str(), path);
}

Recipe readRecipeText(const std::string& text, const std::string& path) {
    Recipe recipe;
    recipe.path = path;
    recipe.text = text;
    const Json json = parseRecipe(recipe.text, path);
    readName(json, path, recipe);
    readShape(json, path, recipe);
    readMaterial(json, path, recipe);
    readTetrahedra(json, path, recipe);
    readModes(json, path, recipe);
    readTransfer(json, path, recipe);
    readLoudness(json, path, recipe);
    return recipe;
}

std::string transferListName(const Recipe& recipe) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "%02d",
                  static_cast<int>(std::lround(recipe.transfer.tolerance * 100.0)));
    return recipe.name + "-ZEPObjectsList-" + percent + ".txt";
}
