// A point on the struck object's surface as the contact models see it: the triangle under the
// point and its barycentric weights, the modal force of a point force there (the mode shapes
// interpolated over the triangle), and the search that turns a point in space into the nearest
// point of the mesh.
//
// Callers: the engine's object block on the render thread (modalSurfaceForces, once per block of
// a moving contact), the window's drag and the offline renderer's contact paths on their own
// threads (findSurfacePoint).
#pragma once

class ModeShapeMatrix;
struct ObjModel;

// Three 0-based mesh vertices and weights w_k >= 0 with w_0 + w_1 + w_2 = 1: the point
// p = sum_k w_k P(vertex[k]). A point on a vertex v is {v, v, v} with any weights summing to 1.
struct SurfacePoint {
    int vertex[3];
    double weight[3];
};

// Adds the modal forces of the point force `magnitude` * `direction` (unit, mode-shape frame) at
// `point` to forces[0 .. shapes.modeCount-1] (not cleared first), with the mode shapes
// interpolated linearly over the triangle (the finite-element interpolation of the displacement):
//   forces[j] += sum_k w_k u_j(vertex[k]) . (magnitude * direction).
// At a vertex (all three corners the same) this is exactly modalImpactForces there.
// Returns false, adding nothing, when a corner has no mode shape (outside 0 .. vertexCount-1).
// Real-time: no allocation, no I/O, no lock; O(modeCount).
bool modalSurfaceForces(const ModeShapeMatrix& shapes, const SurfacePoint& point,
                        const double direction[3], double magnitude, double* forces);

// The point of `mesh`'s triangles nearest to q (mesh frame), into *point, and the unit normal
// of the triangle it lies on (the corners' counter-clockwise order, as the facet normals) into
// normal. Brute force over the triangles (O(triangleCount)); false for a mesh without
// triangles. Ties go to the lowest triangle index.
// Not real-time: for the GUI thread and the offline renderer, once per frame or block.
bool findSurfacePoint(const ObjModel& mesh, const double q[3], SurfacePoint* point,
                      double normal[3]);
