// The volume mesh of a solid: tetrahedra whose first nodes are the surface vertices, in the
// surface's order, so that surface vertex i is node i (and model vertex i + 1 of the OBJ file, and
// row block i of the mode-shape matrix). Made by TetGen from a closed surface as linear (4-node)
// tetrahedra; addEdgeNodes turns them into quadratic (10-node) ones, which bend without the shear
// locking that makes linear tetrahedra far too stiff across a thin wall.
#pragma once

#include <Eigen/Core>
#include <array>
#include <string>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"

struct TetMesh {
    std::vector<Eigen::Vector3d> nodes;    // metres; nodes [0, surfaceNodeCount) are the surface
    std::vector<std::array<int, 4>> tets;  // 0-based corner nodes, positive orientation
    // Quadratic meshes only (empty for linear ones): the midpoint nodes of each tetrahedron's edges
    // 01, 12, 20, 03, 13, 23 (the order of CalculiX's and Abaqus's C3D10). They are numbered after
    // every corner node, so the surface rows stay the first ones.
    std::vector<std::array<int, 6>> edgeNodes;
    int surfaceNodeCount = 0;

    bool quadratic() const { return !edgeNodes.empty(); }
};

// Corner a and b of the tetrahedron's edge e (the edge order of TetMesh::edgeNodes).
constexpr int kTetEdgeCorners[6][2] = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};

struct TetMeshOptions {
    double maxVolume = 0.0;        // m^3, TetGen's -a bound on every tetrahedron (0: none)
    double radiusEdgeRatio = 1.4;  // TetGen's -q bound on the radius-edge ratio
    int order = 1;                 // 1: linear tetrahedra, 2: quadratic (edge midpoints added)
};

// Tetrahedralises the solid bounded by `surface` with TetGen's -pq<ratio>a<volume>Y, which keeps
// the surface triangles untouched. Checks afterwards that the first surface.positions.size()
// nodes are the surface vertices in order, that every node is used and every tetrahedron has a
// positive volume; with order 2, adds the edge nodes (addEdgeNodes). `sourceName` names the input
// in messages (recipes ask for order 2 unless they say otherwise).
// Throws BakeError on TetGen failure (self-intersection, tiny features, ...) or a failed check.
TetMesh tetrahedralize(const SurfaceMesh& surface, const TetMeshOptions& options,
                       const std::string& sourceName);

// The quadratic mesh on the same tetrahedra: one node at the midpoint of every edge (shared by the
// tetrahedra around it), appended after the existing nodes. The edges stay straight, so the solid's
// surface is still the triangles of the OBJ file.
TetMesh addEdgeNodes(const TetMesh& linear);

// Volume of tetrahedron t (m^3), positive for positive orientation:
// V = det[x1 - x0, x2 - x0, x3 - x0] / 6.
double tetVolume(const TetMesh& mesh, int t);
