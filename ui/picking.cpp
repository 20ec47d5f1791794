// Picking and impacts.
#include "ui/picking.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cmath>

#include "app/scene_loading.h"
#include "app/scene_objects.h"
#include "app/scene_selector.h"
#include "app/swing.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_object.h"
#include "sound/impact.h"

LastImpact lastImpact = {0, {0.0, 0.0, 0.0}, 0.0};
bool impactMarkerOn = false;
IntervalTimer impactTime;

namespace {

// The scene's view as the last frame drew it.
GLdouble sceneModelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
GLdouble sceneProjection[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
GLint sceneViewport[4] = {0, 0, 1, 1};

// The swing's torque is the x component of (V - pivot) x direction, scaled by 200.
constexpr double kTorqueScale = 200.0;

}  // namespace

void saveSceneViewForPicking() {
    glGetDoublev(GL_MODELVIEW_MATRIX, sceneModelview);
    glGetDoublev(GL_PROJECTION_MATRIX, sceneProjection);
    glGetIntegerv(GL_VIEWPORT, sceneViewport);
}

void strikeAt(int x, int y) {
    if (mainObject == nullptr) return;
    const int winY = sceneViewport[3] - y - 1;
    GLfloat depth = 1.0f;
    GLubyte stencil = 0;
    glReadPixels(x, winY, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    glReadPixels(x, winY, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
    GLdouble px = 0, py = 0, pz = 0;
    // A singular view (it cannot happen with the camera's perspective) leaves no point to
    // strike.
    if (gluUnProject(x, winY, depth, sceneModelview, sceneProjection, sceneViewport, &px, &py,
                     &pz) != GL_TRUE) {
        return;
    }

    if (stencil == 2) {
        pushSwing();
        return;
    }
    if (stencil != 1) return;

    const int v = pickVertex(px, py, pz);
    lastImpact.vertex = v;
    double V[3], E[3];
    mainObject->vertexWorldPosition(v, &V[0], &V[1], &V[2]);
    camera->getEyePosition(&E[0], &E[1], &E[2]);
    const double D[3] = {V[0] - E[0], V[1] - E[1], V[2] - E[2]};
    const double L = std::sqrt(D[0] * D[0] + D[1] * D[1] + D[2] * D[2]);
    for (int k = 0; k < 3; ++k) lastImpact.direction[k] = (L == 0.0) ? 0.0 : D[k] * (1.0 / L);
    if (sceneSelector == kBellScene) {
        const double* dir = lastImpact.direction;
        lastImpact.torque = ((V[1] - kSwingPivotHeight) * dir[2] - dir[1] * V[2]) * kTorqueScale;
    }
    strikeVertex(lastImpact.vertex, lastImpact.direction, lastImpact.torque);
}

bool pickObjectSurface(int x, int y, double world[3]) {
    const int winY = sceneViewport[3] - y - 1;
    GLfloat depth = 1.0f;
    GLubyte stencil = 0;
    glReadPixels(x, winY, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    glReadPixels(x, winY, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
    if (stencil != 1) return false;
    return gluUnProject(x, winY, depth, sceneModelview, sceneProjection, sceneViewport, &world[0],
                        &world[1], &world[2]) == GL_TRUE;
}

int pickVertex(double px, double py, double pz) {
    double q[3];
    worldToObject(px, py, pz, &q[0], &q[1], &q[2]);
    return findNearestVertex(*mainObject->mesh.model, q[0], q[1], q[2]);
}

void strikeVertex(int vertex, const double direction[3], double torque) {
    applyImpact(*modeShapes, vertex, direction, static_cast<double>(impactMagnitude));
    if (sceneSelector == kBellScene) swingImpulse += torque;
    impactTime.reset();
    impactMarkerOn = true;
}

void repeatLastImpact() {
    strikeVertex(lastImpact.vertex, lastImpact.direction, lastImpact.torque);
}
