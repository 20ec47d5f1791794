// SceneObject: pose, world positions of vertices, drawing under the pose, planar shadows.
#include "geometry/scene_object.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

SceneObject::SceneObject(const char* fileName)
    : mesh(fileName),
      position{0, 0, 0},
      rotation{1, 0, 0, 0, 1, 0, 0, 0, 1},
      restPositions(nullptr) {
    const size_t count = static_cast<size_t>(mesh.meshVertexCount);
    restPositions = static_cast<double*>(malloc(3 * (count > 0 ? count : 1) * sizeof(double)));
    if (restPositions == nullptr) {
        printf("Error loading the mesh file %s .\n", fileName);
        exit(1);
    }
    for (size_t i = 0; i < 3 * count; ++i) restPositions[i] = mesh.model->vertices[3 + i];
}

SceneObject::~SceneObject() { free(restPositions); }

void SceneObject::setPose(const double position_[3], const double rotation_[9]) {
    memcpy(position, position_, sizeof position);
    memcpy(rotation, rotation_, sizeof rotation);
}

void SceneObject::poseMatrix(double m[16]) const {
    const double* R = rotation;
    const double matrix[16] = {R[0], R[3], R[6], 0, R[1],        R[4],        R[7],        0,
                               R[2], R[5], R[8], 0, position[0], position[1], position[2], 1};
    memcpy(m, matrix, sizeof matrix);
}

void SceneObject::vertexWorldPosition(int vertex, double* x, double* y, double* z) {
    const double* p = &restPositions[3 * static_cast<size_t>(vertex)];
    const double* R = rotation;
    *x = R[2] * p[2] + R[1] * p[1] + R[0] * p[0] + position[0];
    *y = R[5] * p[2] + R[4] * p[1] + R[3] * p[0] + position[1];
    *z = R[8] * p[2] + R[7] * p[1] + R[6] * p[0] + position[2];
}

namespace {

// Runs `drawMesh` with the model-view matrix multiplied by `before` (when given) and then by
// the object's pose, restoring the matrix afterwards.
template <typename DrawMesh>
void underPose(const SceneObject& object, const double* before, DrawMesh drawMesh) {
    double pose[16];
    object.poseMatrix(pose);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    if (before != nullptr) glMultMatrixd(before);
    glMultMatrixd(pose);
    drawMesh();
    glPopMatrix();
}

}  // namespace

void SceneObject::draw() {
    underPose(*this, nullptr, [this] { mesh.draw(); });
}

void SceneObject::drawSelectedPoints(int count, const int* indices) {
    underPose(*this, nullptr, [&] { mesh.drawSelectedPoints(count, indices); });
}

void SceneObject::drawPoints() {
    underPose(*this, nullptr, [this] { mesh.drawPoints(); });
}

void SceneObject::drawVertexNames() {
    underPose(*this, nullptr, [this] { mesh.drawVertexNames(); });
}

void SceneObject::drawEdges() {
    underPose(*this, nullptr, [this] { mesh.drawEdges(); });
}

void SceneObject::drawShadow(const double plane[4], const double light[4]) {
    double shadow[16];
    shadowMatrix(plane, light, shadow);
    underPose(*this, shadow, [this] { mesh.draw(); });
}

void shadowMatrix(const double P[4], const double L[4], double matrix[16]) {
    const double g = P[0] * L[0] + P[1] * L[1] + P[2] * L[2] + P[3] * L[3];
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const double S = (row == column ? g : 0.0) - L[row] * P[column];
            matrix[column * 4 + row] = S;
        }
    }
}
