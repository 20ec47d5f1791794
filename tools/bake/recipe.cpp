// JSON recipe reading and checking (see recipe.h).
#include "tools/bake/recipe.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/bake/bake_error.h"
#include "tools/bake/loudness_calibration.h"

namespace {

using Json = nlohmann::json;

// The value at `key` inside `object`, converted; `where` is the dotted path for messages.
template <typename T>
T field(const Json& object, const char* key, const std::string& where, const std::string& path) {
    if (!object.contains(key)) throw BakeError(path + ": missing \"" + where + key + "\"");
    try {
        return object.at(key).get<T>();
    } catch (const Json::exception&) {
        throw BakeError(path + ": \"" + where + key + "\" has the wrong type");
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
    if (values.size() != 3) throw BakeError(path + ": \"" + where + key + "\" needs three numbers");
    return Eigen::Vector3d(values[0], values[1], values[2]);
}

void requirePositive(double value, const std::string& name, const std::string& path) {
    if (!(std::isfinite(value) && value > 0.0))
        throw BakeError(path + ": \"" + name + "\" must be positive");
}

}  // namespace

Recipe readRecipe(const std::string& path) {
    Recipe recipe;
    recipe.path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BakeError(path + ": cannot open the recipe");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    recipe.text = bytes.str();
    Json json;
    try {
        json = Json::parse(recipe.text);
    } catch (const Json::parse_error& e) {
        throw BakeError(path + ": not valid JSON: " + e.what());
    }
    if (!json.is_object()) throw BakeError(path + ": the recipe must be a JSON object");

    recipe.name = field<std::string>(json, "name", "", path);
    if (recipe.name.empty() || recipe.name.find_first_of("/\\ \t") != std::string::npos)
        throw BakeError(path + ": \"name\" must be a plain file stem");

    const Json shape = field<Json>(json, "shape", "", path);
    const std::string kind = field<std::string>(shape, "kind", "shape.", path);
    if (kind == "bell") {
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
    } else if (kind == "chair") {
        recipe.shape = ShapeKind::chair;
        recipe.chairGrid.maxSpacing = field<double>(shape, "maxSpacing", "shape.", path);
        recipe.chairGrid.cellsThrough = optionalField(shape, "cellsThrough", 3, "shape.", path);
        requirePositive(recipe.chairGrid.maxSpacing, "shape.maxSpacing", path);
        if (recipe.chairGrid.cellsThrough < 1)
            throw BakeError(path + ": \"shape.cellsThrough\" must be at least 1");
    } else if (kind == "mesh") {
        recipe.shape = ShapeKind::mesh;
        const std::string source = field<std::string>(shape, "source", "shape.", path);
        const std::filesystem::path sourcePath(source);
        recipe.sourceMesh = sourcePath.is_absolute()
                                ? source
                                : (std::filesystem::path(path).parent_path() / sourcePath)
                                      .lexically_normal()
                                      .string();
        recipe.wrap.relativeAlpha =
            optionalField(shape, "relativeAlpha", recipe.wrap.relativeAlpha, "shape.", path);
        recipe.wrap.relativeOffset =
            optionalField(shape, "relativeOffset", recipe.wrap.relativeOffset, "shape.", path);
        recipe.wrap.targetVertexCount = optionalField(
            shape, "targetVertexCount", recipe.wrap.targetVertexCount, "shape.", path);
        recipe.placementLength = optionalField(shape, "length", 0.0, "shape.", path);
        recipe.placementCenter = vector3(shape, "center", recipe.placementCenter, "shape.", path);
        requirePositive(recipe.wrap.relativeAlpha, "shape.relativeAlpha", path);
        requirePositive(recipe.wrap.relativeOffset, "shape.relativeOffset", path);
        if (recipe.wrap.targetVertexCount < 0)
            throw BakeError(path + ": \"shape.targetVertexCount\" must not be negative");
        if (recipe.placementLength < 0.0)
            throw BakeError(path + ": \"shape.length\" must not be negative");
    } else {
        throw BakeError(path + ": unknown shape kind \"" + kind + "\" (bell, chair or mesh)");
    }

    const Json material = field<Json>(json, "material", "", path);
    recipe.material.youngsModulus = field<double>(material, "youngsModulus", "material.", path);
    recipe.material.poissonRatio = field<double>(material, "poissonRatio", "material.", path);
    recipe.material.density = field<double>(material, "density", "material.", path);
    checkMaterial(recipe.material, path);
    recipe.materialName =
        optionalField<std::string>(material, "name", recipe.materialName, "material.", path);
    recipe.ambient = vector3(material, "ambient", recipe.ambient, "material.", path);
    recipe.diffuse = vector3(material, "diffuse", recipe.diffuse, "material.", path);
    recipe.specular = vector3(material, "specular", recipe.specular, "material.", path);
    recipe.shininess = optionalField(material, "shininess", recipe.shininess, "material.", path);

    const Json tets = field<Json>(json, "tetrahedra", "", path);
    recipe.tetrahedra.maxVolume = field<double>(tets, "maxVolume", "tetrahedra.", path);
    recipe.tetrahedra.radiusEdgeRatio =
        optionalField(tets, "radiusEdgeRatio", 1.4, "tetrahedra.", path);
    requirePositive(recipe.tetrahedra.maxVolume, "tetrahedra.maxVolume", path);
    if (!(recipe.tetrahedra.radiusEdgeRatio >= 1.0))
        throw BakeError(path + ": \"tetrahedra.radiusEdgeRatio\" must be at least 1");
    recipe.tetrahedra.order = optionalField(tets, "order", 2, "tetrahedra.", path);
    if (recipe.tetrahedra.order != 1 && recipe.tetrahedra.order != 2)
        throw BakeError(path + ": \"tetrahedra.order\" must be 1 (linear) or 2 (quadratic)");

    const Json modes = field<Json>(json, "modes", "", path);
    recipe.modes.modeCount = optionalField(modes, "count", 0, "modes.", path);
    recipe.modes.maxFrequency = optionalField(modes, "maxFrequency", 0.0, "modes.", path);
    if (!modes.contains("count") && !modes.contains("maxFrequency"))
        throw BakeError(path + ": \"modes\" needs \"count\" or \"maxFrequency\" (or both)");
    if (modes.contains("count") && recipe.modes.modeCount < 1)
        throw BakeError(path + ": \"modes.count\" must be at least 1");
    if (modes.contains("maxFrequency"))
        requirePositive(recipe.modes.maxFrequency, "modes.maxFrequency", path);

    if (json.contains("transfer")) {
        const Json& transfer = json["transfer"];
        AcousticOptions& t = recipe.transfer;
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
        if (transfer.contains("check")) {
            const Json check = field<Json>(transfer, "check", "transfer.", path);
            t.checkModesPerOctave = optionalField(check, "modesPerOctave", t.checkModesPerOctave,
                                                  "transfer.check.", path);
            t.checkElementsPerWavelength =
                optionalField(check, "elementsPerWavelength", t.checkElementsPerWavelength,
                              "transfer.check.", path);
            t.checkMaxElements =
                optionalField(check, "maxElements", t.checkMaxElements, "transfer.check.", path);
            if (!(t.checkModesPerOctave >= 0 && t.checkModesPerOctave <= 100))
                throw BakeError(path + ": \"transfer.check.modesPerOctave\" must lie in [0, 100]");
            requirePositive(t.checkElementsPerWavelength, "transfer.check.elementsPerWavelength",
                            path);
            if (t.checkMaxElements < 0)
                throw BakeError(path + ": \"transfer.check.maxElements\" must not be negative");
        }
        t.fitPointCount = optionalField(transfer, "fitPoints", t.fitPointCount, "transfer.", path);
        t.heldOutPointCount =
            optionalField(transfer, "heldOutPoints", t.heldOutPointCount, "transfer.", path);
        if (t.maxSources < 1) throw BakeError(path + ": \"transfer.maxSources\" must be positive");
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
            throw BakeError(path +
                            ": \"transfer.highFrequencyTolerance\" must lie between 0 and 1");
        if (!(t.groupWidth >= 0.0 && t.groupWidth < 0.5))
            throw BakeError(path + ": \"transfer.groupWidth\" must lie in [0, 0.5)");
        // The fit needs more samples than its largest number of unknowns (4 per source).
        if (t.fitPointCount < 4 * t.maxSources + 20 || t.heldOutPointCount < 20)
            throw BakeError(path +
                            ": \"transfer.fitPoints\" must exceed 4 x maxSources and "
                            "\"transfer.heldOutPoints\" be at least 20");
    }

    LoudnessOptions& loudness = recipe.loudness;
    if (json.contains("forceUnit")) {
        const Json& unit = json["forceUnit"];
        if (unit.is_string() && unit.get<std::string>() == "auto") {
            loudness.automatic = true;
            PresetStrike preset;
            if (!presetStrikeForScene(recipe.name, &preset))
                throw BakeError(path +
                                ": \"forceUnit\": \"auto\" needs the program's preset strike, "
                                "which only the scenes named bell, chair and dragon have");
        } else if (unit.is_number()) {
            loudness.forceUnit = unit.get<double>();
            requirePositive(loudness.forceUnit, "forceUnit", path);
        } else {
            throw BakeError(path + ": \"forceUnit\" must be a positive number or \"auto\"");
        }
    }
    if (json.contains("strikePeak_dBFS")) {
        if (!loudness.automatic)
            throw BakeError(path +
                            ": \"strikePeak_dBFS\" is the target of \"forceUnit\": \"auto\"");
        loudness.strikePeak_dBFS = field<double>(json, "strikePeak_dBFS", "", path);
        if (!(loudness.strikePeak_dBFS > -120.0 && loudness.strikePeak_dBFS <= 0.0))
            throw BakeError(path + ": \"strikePeak_dBFS\" must lie in (-120, 0]");
    }
    return recipe;
}

std::string transferListName(const Recipe& recipe) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "%02d",
                  static_cast<int>(std::lround(recipe.transfer.tolerance * 100.0)));
    return recipe.name + "-ZEPObjectsList-" + percent + ".txt";
}

std::string describeAcousticOptions(const AcousticOptions& t) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "tolerance %g, at least %d sources allowed, %g elements per wavelength from %d, "
                  "dense up to %d, compressed up to %d, high-frequency from k D = %g%s (fit "
                  "tolerance %g), groups of %g relative width, at least %d fit and %d held-out "
                  "points, checks %g per octave at %g elements per wavelength up to %d",
                  t.tolerance, t.maxSources, t.elementsPerWavelength, t.minElements, t.maxElements,
                  t.hmatrixMaxElements, t.highFrequencyKD,
                  t.highFrequencyFirst ? " before any other tier" : "", t.highFrequencyTolerance,
                  t.groupWidth, t.fitPointCount, t.heldOutPointCount, t.checkModesPerOctave,
                  t.checkElementsPerWavelength, t.checkMaxElements);
    return text;
}
