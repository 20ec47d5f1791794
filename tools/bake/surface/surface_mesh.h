// The closed triangle surface of a solid, as the baker passes it between its stages: positions in
// metres and outward-oriented triangles (counter-clockwise seen from outside). Optional per-corner
// normals are carried for shapes that bring their own shading (the bell); they are written to the
// OBJ file and play no part in the physics.
#pragma once

#include <Eigen/Core>
#include <array>
#include <string>
#include <vector>

struct SurfaceMesh {
    std::vector<Eigen::Vector3d> positions;
    std::vector<std::array<int, 3>> triangles;  // 0-based vertex indices
    // Per-corner normals: normalIndices[t][c] indexes `normals`; empty when the shape has none.
    std::vector<Eigen::Vector3d> normals;
    std::vector<std::array<int, 3>> normalIndices;
};

// Problems that make `mesh` unusable as the boundary of a solid, as one line of text, or "" when it
// is a closed, edge- and vertex-manifold, consistently oriented surface enclosing a positive
// volume with every vertex used. Degenerate (zero-area) triangles are reported too.
std::string closedManifoldProblem(const SurfaceMesh& mesh);

// Volume enclosed by a closed, outward-oriented surface (m^3), by the divergence theorem:
// V = (1/6) sum over triangles of p0 . (p1 x p2). Negative for an inward-oriented surface.
double enclosedVolume(const SurfaceMesh& mesh);

// Reverses every triangle (and its normal corners), turning the orientation inside out.
void flipOrientation(SurfaceMesh& mesh);

// Axis-aligned bounding box of the positions.
void boundingBox(const SurfaceMesh& mesh, Eigen::Vector3d& lower, Eigen::Vector3d& upper);

// Appends `other` to `mesh` as a separate component (indices shifted).
void appendMesh(SurfaceMesh& mesh, const SurfaceMesh& other);
