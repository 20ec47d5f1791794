// Immediate-mode drawing of a mode shape on the struck object.
#include "ui/mode_shape_view.h"

#include <GL/gl.h>

#include <cmath>
#include <vector>

#include "geometry/mode_shape_matrix.h"
#include "geometry/scene_object.h"
#include "ui/level_meter.h"

double modeShapeScale(const double* rest, const double* shape, int vertexCount) {
    if (vertexCount <= 0) return 0.0;
    double centroid[3] = {0, 0, 0};
    for (int v = 0; v < vertexCount; ++v) {
        for (int k = 0; k < 3; ++k) centroid[k] += rest[3 * v + k] / vertexCount;
    }
    double radius2 = 0.0, largest2 = 0.0;
    for (int v = 0; v < vertexCount; ++v) {
        double r2 = 0.0, u2 = 0.0;
        for (int k = 0; k < 3; ++k) {
            const double d = rest[3 * v + k] - centroid[k];
            r2 += d * d;
            u2 += shape[3 * v + k] * shape[3 * v + k];
        }
        if (r2 > radius2) radius2 = r2;
        if (u2 > largest2) largest2 = u2;
    }
    if (!(largest2 > 0.0)) return 0.0;
    return kModeShapeExaggeration * std::sqrt(radius2 / largest2);
}

void drawModeShape(const SceneObject& object, const ModeShapeMatrix& shapes, int mode,
                   double seconds) {
    const ObjModel& model = *object.mesh.model;
    const int vertexCount = object.mesh.meshVertexCount;
    const int covered = shapes.vertexCount < vertexCount ? shapes.vertexCount : vertexCount;
    const double* u = &shapes.values[static_cast<size_t>(mode) * shapes.vertexCount * 3];

    // Displaced positions and colours, vertex by vertex (0-based).
    const double scale = modeShapeScale(object.restPositions, u, covered);
    const double phase = std::sin(6.283185307179586 * kModeShapeCyclesPerSecond * seconds);
    double largest = 0.0;
    for (int v = 0; v < covered; ++v) {
        const double* d = &u[3 * v];
        largest = std::fmax(largest, std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
    }
    std::vector<float> position(3 * static_cast<size_t>(vertexCount));
    std::vector<float> colour(3 * static_cast<size_t>(vertexCount));
    for (int v = 0; v < vertexCount; ++v) {
        const double* p = &object.restPositions[3 * v];
        double magnitude = 0.0;
        for (int k = 0; k < 3; ++k) {
            const double d = v < covered ? u[3 * v + k] : 0.0;
            position[3 * v + k] = static_cast<float>(p[k] + scale * phase * d);
            magnitude += d * d;
        }
        double r, g, b;
        colorMap(largest > 0.0 ? std::sqrt(magnitude) / largest : 0.0, &r, &g, &b);
        colour[3 * v] = static_cast<float>(r);
        colour[3 * v + 1] = static_cast<float>(g);
        colour[3 * v + 2] = static_cast<float>(b);
    }

    double pose[16];
    object.poseMatrix(pose);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixd(pose);
    // The colour-tracking material is this drawing's own: the floor and the fixtures find the
    // material state as they left it.
    glPushAttrib(GL_LIGHTING_BIT | GL_CURRENT_BIT);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    const GLfloat dull[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, dull);
    glBegin(GL_TRIANGLES);
    for (uint32_t t = 0; t < model.triangleCount; ++t) {
        const ObjTriangle& triangle = model.triangles[t];
        for (int k = 0; k < 3; ++k) {
            const int v = static_cast<int>(triangle.vertexIndices[k]) - 1;  // 0-based
            if (model.normals != nullptr)
                glNormal3fv(&model.normals[3 * triangle.normalIndices[k]]);
            glColor3fv(&colour[3 * v]);
            glVertex3fv(&position[3 * v]);
        }
    }
    glEnd();
    glPopAttrib();
    glPopMatrix();
}
