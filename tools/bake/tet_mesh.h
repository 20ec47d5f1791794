// The volume mesh of a solid: linear tetrahedra whose first nodes are the surface vertices, in
// the surface's order, so that surface vertex i is node i (and model vertex i + 1 of the OBJ file,
// and row block i of the mode-shape matrix). Made by TetGen from a closed surface.
#pragma once

#include <Eigen/Core>
#include <array>
#include <string>
#include <vector>

#include "tools/bake/surface_mesh.h"

struct TetMesh {
    std::vector<Eigen::Vector3d> nodes;    // metres; nodes [0, surfaceNodeCount) are the surface
    std::vector<std::array<int, 4>> tets;  // 0-based node indices, positive orientation
    int surfaceNodeCount = 0;
};

struct TetMeshOptions {
    double maxVolume = 0.0;        // m^3, TetGen's -a bound on every tetrahedron (0: none)
    double radiusEdgeRatio = 1.4;  // TetGen's -q bound on the radius-edge ratio
};

// Tetrahedralises the solid bounded by `surface` with TetGen's -pq<ratio>a<volume>Y, which keeps
// the surface triangles untouched. Checks afterwards that the first surface.positions.size()
// nodes are the surface vertices in order, that every node is used and every tetrahedron has a
// positive volume. `sourceName` names the input in messages.
// Throws BakeError on TetGen failure (self-intersection, tiny features, ...) or a failed check.
TetMesh tetrahedralize(const SurfaceMesh& surface, const TetMeshOptions& options,
                       const std::string& sourceName);

// Volume of tetrahedron t (m^3), positive for positive orientation:
// V = det[x1 - x0, x2 - x0, x3 - x0] / 6.
double tetVolume(const TetMesh& mesh, int t);
