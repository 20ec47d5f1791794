// The surface of a union of axis-aligned boxes, made on one shared rectilinear grid: every box
// face lies on grid lines, the cells inside any box are solid, and the surface is the set of cell
// faces between a solid and an empty cell. Boxes that overlap by whole faces give a closed,
// manifold surface by construction; boxes that touch only along an edge or at a corner would not,
// and are reported.
#pragma once

#include <vector>

#include "tools/bake/surface/surface_mesh.h"

struct Box {
    Eigen::Vector3d lower, upper;  // m
};

struct BoxGridOptions {
    double maxSpacing = 0.02;  // m, largest cell edge
    int cellsThrough = 3;      // at least this many cells across every box in every direction
};

// Number of grid cells makeBoxUnionSurface lays over `boxes` (nx * ny * nz), in double precision
// so that an absurd spacing gives a large number rather than an overflow: what a recipe is checked
// against before the grid is made. Preconditions: options.maxSpacing > 0, cellsThrough >= 1.
double boxUnionGridCellCount(const std::vector<Box>& boxes, const BoxGridOptions& options);

// The outward-oriented surface of the union of `boxes`, two triangles per boundary cell face.
// Per axis, the grid lines are the box faces, and each interval between them is split evenly so
// that no cell is longer than maxSpacing nor than 1/cellsThrough of any box it lies in.
// Throws BakeError (naming `sourceName`) if the surface is not a closed manifold.
SurfaceMesh makeBoxUnionSurface(const std::vector<Box>& boxes, const BoxGridOptions& options,
                                const std::string& sourceName);
