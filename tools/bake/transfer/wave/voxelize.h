// The object as the wave solver sees it: every cell of the grid solid or air. Made once per run
// (mode_conflation.h) from the object's closed surface; the solver holds the pressure of solid
// cells at zero and drives the faces between solid and air (boundary_faces.h).
//
// Method. A cell is solid when its centre lies inside the surface: along every grid line of cell
// centres parallel to z, the surface's crossings are found exactly (2-D barycentric coordinates
// of the line in each triangle's projection) and the winding number below each centre counts
// them, +1 where the surface is entered (outward normal against the line), -1 where it is left.
// Centres alone lose walls thinner than a cell (a bell's lip, a chair's seat): both cells beside
// such a wall can have their centres in the air, and the face between them would let the air
// through. So the crossings are also found along the lines parallel to x and y, and wherever the
// segment between two neighbouring air centres crosses the surface, one of the two cells turns
// solid: the one on whose side of the face the crossings lie (their mean). After this no face
// between two air cells has the surface between its cells' centres, so air connected through
// faces is air on one side of every wall. Last, the air is flood-filled from the grid's border
// through faces; air it does not reach (enclosed by the object) turns solid.
//
// The grid lines pass through cell centres shifted by a fixed tiny fraction of h (about 1e-6 h,
// different per axis), so that no line meets a triangle's edge or vertex exactly on shapes whose
// coordinates sit on the grid (boxes, plates).
//
// Thin features that no grid line meets (a rod thinner than a cell between lines) are lost; a
// wall is met by every line crossing it and is never lost.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/wave/wave_grid.h"

struct VoxelCounts {
    int64_t insideCells = 0;    // centre inside the surface
    int64_t thinWallCells = 0;  // added where a face between air centres crossed the surface
    int64_t enclosedCells = 0;  // air the flood from the border did not reach
};

// One byte per cell of `grid` (flat index of WaveGrid::index): 1 solid, 0 air.
// surface: closed, outward-oriented (closedManifoldProblem(surface) == ""), inside the grid's
// interior. Several closed components may overlap (the winding number counts each). `counts`,
// when given, receives how the solid cells came about. Single-threaded. The lines of cell
// centres the surface is crossed along are moved off the centres by a few millionths of a cell, a
// different amount along each axis, so that no line runs exactly through a vertex or along an
// edge of a surface laid out on the grid's own spacing.
std::vector<uint8_t> voxelize(const WaveGrid& grid, const SurfaceMesh& surface,
                              VoxelCounts* counts = nullptr);
