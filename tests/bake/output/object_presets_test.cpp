// The built-in material table and the presets computed from it: the table agrees with the demo's
// own scenes where they share a material, every entry is a physical material, and every
// material's colour stands out from the background its presets choose.
#include "tools/bake/output/object_presets.h"

#include <gtest/gtest.h>

#include "app/scene_selector.h"
#include "geometry/scene_presets.h"
#include "tools/bake/modes/material_table.h"

namespace {

double luminance(const Eigen::Vector3d& rgb) {
    return 0.2126 * rgb.x() + 0.7152 * rgb.y() + 0.0722 * rgb.z();
}

TEST(MaterialTable, SharedMaterialsKeepTheScenesDampingAndEveryEntryIsPhysical) {
    // The scenes' presets hold single-precision values of the same decimals.
    const struct {
        const char* material;
        int scene;
    } shared[] = {{"bronze", kBellScene}, {"wood", kChairScene}, {"ceramic", kDragonScene}};
    for (const auto& s : shared) {
        SCOPED_TRACE(s.material);
        const MaterialPreset* m = findMaterialPreset(s.material);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(static_cast<float>(m->massDamping), scenePreset(s.scene)->massDamping);
        EXPECT_EQ(static_cast<float>(m->stiffnessDamping), scenePreset(s.scene)->stiffnessDamping);
    }
    int count = 0;
    const MaterialPreset* table = materialPresets(&count);
    EXPECT_EQ(count, 8);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(table[i].name);
        EXPECT_NO_THROW(checkMaterial(table[i].elastic, "table"));
        EXPECT_GT(table[i].massDamping, 0.0);
        EXPECT_GT(table[i].stiffnessDamping, 0.0);
    }
    EXPECT_EQ(findMaterialPreset("Steel"), nullptr) << "names are exact";
}

TEST(ObjectPresets, EveryMaterialStandsOutFromItsBackground) {
    SurfaceMesh tetrahedron;
    tetrahedron.positions = {{0, 0, 0}, {0.1, 0, 0}, {0, 0.1, 0}, {0, 0, 0.1}};
    tetrahedron.triangles = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
    int count = 0;
    const MaterialPreset* table = materialPresets(&count);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(table[i].name);
        Recipe recipe;
        recipe.name = "thing";
        recipe.diffuse = table[i].diffuse;
        recipe.hasDamping = true;
        const ObjectPresets p = computeObjectPresets(recipe, tetrahedron);
        // A difference of a quarter of the luminance range reads clearly on a screen.
        EXPECT_GE(std::abs(luminance(table[i].diffuse) - luminance(p.background)), 0.25);
    }
}

}  // namespace
