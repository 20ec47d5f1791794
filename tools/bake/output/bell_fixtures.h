// The bell's fixtures, in the bell's model frame: the wooden headstock on the swing axis
// ("yoke-wood"), the iron straps and gudgeons ("yoke-metal"), and the two wooden supports that
// stand on the floor (model y = -1) clear of the swinging bell ("supports"). They are only drawn,
// never struck: each is a set of closed boxes and cylinders with one material.
#pragma once

#include <string>
#include <vector>

#include "geometry/scene_presets.h"
#include "tools/bake/output/scene_files.h"

struct BellFixture {
    std::string name;  // file stem: "yoke-wood", "yoke-metal", "supports"
    ObjPart part;
    MtlMaterial material;
};

// The three fixtures for a bell whose outer radius is at most `bellRadius` (m) and whose crown
// top is at model y `crownTopY`; the swing axis is the x axis through (0, 0.308643, 0). The
// supports stand farther from the axis (in x) than anything that swings.
std::vector<BellFixture> makeBellFixtures(double bellRadius, double crownTopY);

// The model y of the swing axis (the program's, about which it swings the bell) and of the floor.
constexpr double kPivotY = kSwingPivotOffset;
constexpr double kFloorY = -1.0;
