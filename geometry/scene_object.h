// One rigid, posed mesh of the scene: the struck object (bell, chair or dragon) and, in the bell
// scene, the yoke in two materials and the supports. It draws itself in several ways under its
// pose, casts a planar shadow, and tells where one of its vertices is in world space. Created by
// scene loading; posed by scene loading and the bell's swing (app/swing.h); drawn by the frame
// display; read by picking. GUI thread only.
#pragma once

#include "geometry/rendered_mesh.h"

class SceneObject {
  public:
    // Loads the mesh (RenderedMesh), sets the identity pose and keeps the model's vertices
    // 1..vertexCount as double-precision rest positions (0-based).
    explicit SceneObject(const char* fileName);
    SceneObject(const SceneObject&) = delete;
    SceneObject& operator=(const SceneObject&) = delete;

    // Slot 0. World position R p + t of the 0-based vertex `vertex` (rest position p), in world
    // units. Precondition: 0 <= vertex < mesh.meshVertexCount.
    virtual void vertexWorldPosition(int vertex, double* x, double* y, double* z);
    // Slot 1. Draws the mesh under the pose.
    virtual void draw();
    // Slot 2. Draws the listed 0-based vertices as points under the pose.
    virtual void drawSelectedPoints(int count, const int* indices);
    // Slot 3. Draws every vertex as a point under the pose.
    virtual void drawPoints();
    // Slot 4. Draws every vertex as a named point for OpenGL selection (name = 1-based index).
    virtual void drawVertexNames();
    // Slot 5. Draws the face outline edges under the pose.
    virtual void drawEdges();
    // Slot 6. Draws the mesh under the pose, flattened onto the plane a x + b y + c z + d = 0
    // (plane = a, b, c, d) along the rays from `light` (x, y, z, w; w = 1 a point light, w = 0
    // a direction). The caller sets colour and stencil state.
    virtual void drawShadow(const double plane[4], const double light[4]);

    virtual ~SceneObject();

    // Copies a pose: translation t (3 doubles, world units) and rotation R (9 doubles, row-major).
    void setPose(const double position[3], const double rotation[9]);

    // The pose as OpenGL's column-major 4 x 4 matrix: R00, R10, R20, 0, R01, R11, R21, 0, R02,
    // R12, R22, 0, t.x, t.y, t.z, 1.
    void poseMatrix(double matrix[16]) const;

    RenderedMesh mesh;
    double position[3];     // translation t of the pose
    double rotation[9];     // rotation R of the pose, row-major
    double* restPositions;  // owned, 3 * meshVertexCount: x, y, z of each vertex, 0-based
};

// The planar shadow matrix, column-major for glMultMatrixd: S = (P . L) I - L P^T, which maps
// every point X to where the ray from the light L through X meets the plane P (homogeneously).
void shadowMatrix(const double plane[4], const double light[4], double matrix[16]);
