// The bronze church bell as a surface of revolution: a true bell profile (flat crown, shoulder,
// thin waist, thick sound bow, lip) revolved about the y axis, closed at the axis, with its own
// vertex normals (smooth along the profile, split at the lip's sharp corners). Model frame: the
// lip is at the bottom, the crown's top just below the swing axis at y = 0.308643.
#pragma once

#include "tools/bake/surface/surface_mesh.h"

struct BellParameters {
    double lipDiameter = 0.66;     // m, outer diameter at the lip
    double height = 0.55;          // m, from lip to crown top
    double lipY = -0.30;           // model y of the lip plane
    double profileSpacing = 0.01;  // m, target distance between profile points
    double ringSpacing = 0.02;     // m, target distance between neighbours on a ring
};

// The closed, outward-oriented bell surface with per-corner normals. Rings carry
// max(8, ceil(2 pi r / ringSpacing)) vertices and neighbouring rings of different counts are
// zipped together, so triangles stay well shaped up to the poles on the axis.
// Throws BakeError on parameters that give no valid profile.
SurfaceMesh makeBellSurface(const BellParameters& parameters);

// The bell's profile in the (r, y) half-plane as the closed polygon the surface revolves: from
// the outer crown centre on the axis, down the outside, across the lip, up the inside to the inner
// crown centre on the axis. Exposed for tests and the report.
std::vector<Eigen::Vector2d> bellProfile(const BellParameters& parameters);
