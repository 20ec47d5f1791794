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

// A crossing of the surface with a grid line: the line's index among the lines of its axis
// (lb + nb lc over the other two axes b = axis + 1, c = axis + 2, cyclically), the coordinate t
// along the axis where it crosses (m) and the sign of the outward normal's axis component.
struct Crossing {
    int64_t line;
    double t;
    int sign;
    bool operator<(const Crossing& other) const {
        return line != other.line ? line < other.line : t < other.t;
    }
};

// Every crossing of the surface with the lines parallel to `axis` through the points
// origin + h (jb + offsetB) e_b + h (jc + offsetC) e_c (jb, jc over the grid's cells along b and
// c), sorted by line and position. For the line through (B, C) in the projection on the (b, c)
// plane, the edge functions w0 = orient(P1, P2, Q), w1 = orient(P2, P0, Q), w2 = orient(P0, P1,
// Q) all share the sign of orient(P0, P1, P2) = n_axis (twice the projected area; b, c cyclic
// after the axis) exactly when the line passes through the triangle; then t = sum w_i P_i[axis] /
// n_axis. Offsets are best kept off simple fractions (a few millionths of a cell away), so that
// no line meets an edge or vertex of a surface laid out on the grid.
std::vector<Crossing> gridLineCrossings(const WaveGrid& grid, const SurfaceMesh& surface, int axis,
                                        double offsetB, double offsetC);

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
