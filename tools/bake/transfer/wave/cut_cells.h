// The object's boundary as cut cells: the cells of the grid the smooth surface passes through
// keep the share of their volume and of their faces that lies in the air, and the surface's
// normal velocity enters each of them as a volume flux. The staircase (boundary_faces.h) moves the
// right amount of air, but from faces up to half a cell away from the surface, and its errors
// fall only in proportion to the cell size; here the air each cell holds and the openings between
// cells follow the surface itself.
//
// Finite-volume form. For an air cell c of air volume V_c h^3, face openings A_f h^2 (the share of
// face f in the air) and the surface pieces S_c inside it, the mass balance is
//   V_c h^3 dp_c/dt = -rho c^2 (h^2 sum_f A_f u_f - Q_c),   Q_c = integral over S_c of v_n dA,
// v_n the surface's normal velocity (outward), u_f the face velocity out of c. Full cells (V = 1,
// every A = 1, no surface) give the solver's own update; the velocity update of every face is the
// solver's own.
//
// Which cells carry pressure: the voxeliser's air cells (centre in the air, thin walls sealed,
// voxelize.h), and the solid cells next to them with more than a quarter of a cell of air, which
// become air cells of their own (not where both faces of a wall cross the cell: that would
// join the air on its two sides). Any other solid cell's share of air (at most a quarter of a
// cell) is merged into the
// air cells next to it, in proportion to the openings of the faces it shares with them times
// the air in the half-cell behind each: the volume stays the surface's, and no cell is so small
// that it would need a shorter time step. The merged air flows along the wall as well: the
// opening between two merged cells side by side is added to the face between the cells their
// air went to (an opening above 1). A solid cell whose centre is in the air and which
// both faces of a wall cross (pieces facing opposite ways: one the voxeliser turned solid
// because the wall is thinner than a cell) keeps its air out of the merge, as the staircase
// does: that air lies on both sides of the wall. The faces between an air cell
// and a solid one are closed (their flow is in Q). A cell whose air share comes out below
// (sum_f A_f) / 6 is given that volume, so that no cell's stiffness exceeds a full cell's and the
// scheme keeps its time step.
//
// Whose flux a piece is: the air it faces. A piece in an air cell whose centre lies on the
// piece's outward side, or inside the object (an opened cell), drives that cell; any other piece
// (in a solid cell, or the far face of a thin wall inside an air cell) drives the air cells next to
// its cell on its outward side, in proportion to n . e towards each (face neighbours when any faces
// it, else edge and corner ones). The two faces of a plate thinner than a cell push the air on
// their own sides in opposite directions: handed to one cell they would cancel.
//
// Measuring. The shares come from lines along z through each column of cells: 8 x 8 lines at the
// cell's interior points (s - 1/2) / 8 give the volume (each line's length inside the solid is
// exact, from its crossings with the surface, voxelize.h) and the openings of the z faces (inside
// or not at the face's height); 8 lines on each x face (and each y face) give that face's
// opening. A wall normal to z is measured exactly, one normal to x or y to h / 16. The
// pieces are the surface's triangles clipped to each cell. Pieces of a surface inside another
// closed component (overlapping parts of a model) are not the object's boundary: a piece whose
// outer side lies inside the solid is left out.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <array>
#include <cstdint>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/wave/wave_grid.h"

struct CutCells {
    // The air cells whose pressure takes the cut-cell update: every air cell next to a solid one
    // or holding a piece of the surface (flat indices, ascending).
    std::vector<int64_t> cells;
    std::vector<float> volume;                   // V_c, in cells, with merged solid shares
    // A of the faces -x, +x, -y, +y, -z, +z; above 1 where merged air flows along the wall too
    std::vector<std::array<float, 6>> aperture;
    // A piece of the surface: the part of a triangle inside one cell, carried by cut cell `cut`
    // (its own, or the air cell a solid cell's share was merged into, with `area` weighted).
    struct Piece {
        int cut = 0;
        int triangle = 0;
        Eigen::Vector3d barycentric = Eigen::Vector3d::Zero();  // the piece's centroid
        double area = 0;                                        // m^2
    };
    std::vector<Piece> pieces;
    // How the geometry came out: solid cells whose share of air was merged, thin-wall cells
    // whose air was left out, volumes raised to (sum A) / 6, and pieces left out as inside the
    // object.
    int mergedCells = 0, thinWallCells = 0, raisedVolumes = 0, innerPieces = 0;
    int openedCells = 0;   // solid cells with enough air to become air cells
    double raisedAir = 0;  // the air the raised volumes added, in cells
};

// The cut cells of `surface` (closed, outward; the voxeliser's input) on `grid`, whose solid
// cells are *solid (voxelize's output); the solid cells it opens are cleared there, and the
// solver and everything built for the run must take the updated cells.
CutCells findCutCells(const WaveGrid& grid, std::vector<uint8_t>* solid,
                      const SurfaceMesh& surface);

// Q of every cut cell for each mode (cut cells x modes, m^3/s): the sum over its pieces of area
// times the normal velocity at the piece's centroid, the velocity interpolated from the
// triangle's corners (vertexVelocity: 3 N x modes, row 3 v + axis, as faceVelocities takes).
Eigen::MatrixXd cutCellFluxes(const CutCells& cut, const SurfaceMesh& surface,
                              const Eigen::MatrixXd& vertexVelocity);
