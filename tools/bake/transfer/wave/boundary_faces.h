// The staircase boundary of the voxelised object (voxelize.h): every face between a solid and an
// air cell, and the velocity each mode prescribes on it. The solver (wave_solver.h) overwrites
// these faces' velocities every step with the modes' sum.
//
// A face whose normal is the grid axis e_a takes the a-component of the surface velocity's normal
// part at the nearest point x* of the smooth surface facing the face's air side:
//   u_face = v_n(x*) n_a(x*),   v_n = u(x*) . n(x*),
// with u the mode's velocity interpolated from the triangle's corners (barycentric weights) and n
// the triangle's outward unit normal. The staircase over a surface patch dA has faces of total
// area |n_a| dA across axis a, so the volume flux out of it is
//   sum over axes of v_n |n_a| |n_a| dA = v_n dA,
// the smooth surface's: the staircase moves as much air as the surface, wherever it lies.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"
#include "tools/bake/transfer/wave/wave_grid.h"

struct BoundaryFace {
    int64_t cell = 0;   // flat index of the face's lower cell (the face is at its + side)
    int axis = 0;       // 0, 1, 2: the face's normal is e_axis
    int airSide = 1;    // +1: air above (the lower cell is solid), -1: air below
    int triangle = -1;  // triangle of the surface holding x*
    Eigen::Vector3d barycentric = Eigen::Vector3d::Zero();  // x* in that triangle
    double normalComponent = 0;  // n_axis(x*) of the triangle's outward unit normal
    double distance = 0;         // |x* - face centre|, m
};

// The faces between solid and air cells of `solid` (voxelize's output on `grid`), in order of
// axis, then flat index, without their surface points: what the solver holds still when cut
// cells (cut_cells.h) carry the surface's flux instead.
std::vector<BoundaryFace> solidAirFaces(const WaveGrid& grid, const std::vector<uint8_t>& solid);

// The faces between solid and air cells of `solid` (voxelize's output for `surface` on `grid`),
// in order of axis, then flat index, each with its nearest surface point facing its air side
// (within 4 h; the nearest of any facing when there is none). Uses threads as parallel_for.h.
std::vector<BoundaryFace> findBoundaryFaces(const WaveGrid& grid, const std::vector<uint8_t>& solid,
                                            const SurfaceMesh& surface, int threads);

// Each face's prescribed velocity u_face for each mode (faces x modes, m/s):
// vertexVelocity is 3 N x modes for the N vertices of `surface` (row 3 v + axis: a mode-shape
// matrix's surface rows, the velocity for unit modal velocity).
Eigen::MatrixXd faceVelocities(const std::vector<BoundaryFace>& faces, const SurfaceMesh& surface,
                               const Eigen::MatrixXd& vertexVelocity);

// The face's centre (m).
Eigen::Vector3d faceCentre(const WaveGrid& grid, const BoundaryFace& face);
