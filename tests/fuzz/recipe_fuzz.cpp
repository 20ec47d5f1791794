// libFuzzer target for the baker's recipe reader: an input is one recipe (JSON). Bad recipes end
// in a BakeError whose message starts with the recipe's path. Beyond what the sanitizers find, a
// recipe the reader accepts must keep the bounds every later stage relies on: positive finite
// sizes and material, counts within the baker's limits, a band the program can play, and a
// resolution whose surface the baker can mesh.
#include <cmath>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/output/object_presets.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/surface/box_union.h"
#include "tools/bake/surface/chair_shape.h"

namespace {

bool positive(double value) { return std::isfinite(value) && value > 0.0; }

void checkRecipe(const Recipe& r) {
    fuzz::require(!r.name.empty() && r.name.find('/') == std::string::npos, "a plain name");
    fuzz::require(positive(r.material.youngsModulus) && positive(r.material.density) &&
                      r.material.poissonRatio > -1.0 && r.material.poissonRatio < 0.5,
                  "a physical material");
    fuzz::require(positive(r.tetrahedra.maxVolume) && r.tetrahedra.radiusEdgeRatio >= 1.0 &&
                      std::isfinite(r.tetrahedra.radiusEdgeRatio),
                  "tetrahedra bounds");
    fuzz::require(r.tetrahedra.order == 1 || r.tetrahedra.order == 2, "order 1 or 2");
    fuzz::require(r.modes.modeCount >= 0 && r.modes.modeCount <= kMaxRecipeModes,
                  "a mode count within the bound");
    fuzz::require(r.modes.modeCount > 0 || r.modes.maxFrequency > 0.0, "some modes asked for");
    fuzz::require(r.modes.maxFrequency >= 0.0 && r.modes.maxFrequency <= kMaxRecipeFrequency_Hz,
                  "a band the output can play");
    const TransferSettings& t = r.transfer;
    fuzz::require(t.tolerance > 0.0 && t.tolerance < 1.0, "a fit tolerance in (0, 1)");
    fuzz::require(t.maxSources >= 1 && t.maxSources <= kMaxRecipeSources, "a source cap");
    fuzz::require(t.minElements >= 20 && t.maxElements >= t.minElements, "element bounds");
    fuzz::require(t.fitPointCount > 4 * t.maxSources && t.fitPointCount <= kMaxRecipeFitPoints,
                  "enough and not too many fit points");
    fuzz::require(positive(r.loudness.forceUnit) && r.loudness.forceUnit <= kMaxForceUnit_N,
                  "a force unit");
    // A scene with computed presets has the damping its presets need.
    fuzz::require(isBuiltInScene(r.name) ||
                      (r.hasDamping && r.massDamping >= 0.0 && r.stiffnessDamping >= 0.0 &&
                       std::isfinite(r.massDamping) && std::isfinite(r.stiffnessDamping)),
                  "damping for the presets");
    for (const Eigen::Vector3d* c : {&r.ambient, &r.diffuse, &r.specular})
        fuzz::require(c->minCoeff() >= 0.0 && c->maxCoeff() <= 1.0, "colours in [0, 1]");
    switch (r.shape) {
        case ShapeKind::bell:
            fuzz::require(positive(r.bell.lipDiameter) && positive(r.bell.height) &&
                              positive(r.bell.profileSpacing) && positive(r.bell.ringSpacing) &&
                              std::isfinite(r.bell.lipY),
                          "a bell with a size");
            break;
        case ShapeKind::chair:
            fuzz::require(positive(r.chairGrid.maxSpacing) && r.chairGrid.cellsThrough >= 1,
                          "a chair grid");
            fuzz::require(boxUnionGridCellCount(chairBoxes(), r.chairGrid) <= kMaxGridCells,
                          "a chair grid within the bound");
            break;
        case ShapeKind::mesh:
            fuzz::require(!r.sourceMesh.empty(), "a mesh file");
            fuzz::require(r.wrap.relativeAlpha >= kMinRelativeAlpha && r.wrap.relativeAlpha <= 1,
                          "a wrap alpha within the bounds");
            fuzz::require(positive(r.wrap.relativeOffset) && r.wrap.targetVertexCount >= 0 &&
                              2.0 * r.wrap.targetVertexCount <= kMaxSurfaceTriangles,
                          "wrap settings");
            fuzz::require(std::isfinite(r.placementLength) && r.placementLength >= 0.0 &&
                              r.placementCenter.allFinite(),
                          "a placement");
            break;
    }
    // The names the recipe gives the files and the report.
    fuzz::require(!transferListName(r).empty() && !describeTransferSettings(r.transfer).empty(),
                  "names");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = std::string(fuzz::scratchDirectory()) + "/recipe.json";
    fuzz::writeFile(path, data, size);
    try {
        checkRecipe(readRecipe(path));
    } catch (const BakeError& error) {
        fuzz::require(std::string(error.what()).rfind(path + ": ", 0) == 0,
                      "the message starts with the recipe's path");
    }
    return 0;
}
