// Picking and impacts.
#include "ui/picking.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cfloat>
#include <cmath>

#include "app/scene_loading.h"
#include "app/scene_objects.h"
#include "app/scene_selector.h"
#include "app/swing.h"
#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"
#include "geometry/orbit_camera.h"
#include "geometry/scene_object.h"
#include "sound/synthesis_state.h"

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
    applyImpact(lastImpact.vertex, lastImpact.direction[0], lastImpact.direction[1],
                lastImpact.direction[2], lastImpact.torque);
}

int pickVertex(double px, double py, double pz) {
    double q[3];
    worldToObject(px, py, pz, &q[0], &q[1], &q[2]);
    return findNearestVertex(*mainObject->mesh.model, q[0], q[1], q[2]);
}

int findNearestVertex(const ObjModel& mesh, double qx, double qy, double qz) {
    double best = DBL_MAX;
    int result = 0;
    for (unsigned i = 0; i < mesh.vertexCount; ++i) {
        const float* p = &mesh.vertices[3 * (i + 1)];
        const double dx = qx - p[0], dy = qy - p[1], dz = qz - p[2];
        const double d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < best) {
            best = d2;
            result = static_cast<int>(i);
        }
    }
    return result;
}

void applyImpact(int vertex, double dx, double dy, double dz, double torque) {
    const double m = static_cast<double>(impactMagnitude);
    const double f[3] = {m * dx, m * dy, m * dz};
    {
        MutexLock lock(forceMutex);
        // A mesh with more vertices than the mode-shape matrix has rows for (mismatched scene
        // files) must not read past the matrix: such a vertex has no modal data and stays
        // silent.
        if (vertex >= 0 && vertex < modeShapes->vertexCount) {
            modeShapes->addPointForce(vertex, f[0], f[1], f[2], pendingModalForce);
        }
        // Only the modes being synthesised receive force.
        const int active = activeModeCount.load(std::memory_order_relaxed);
        for (int i = active; i < totalModeCount; ++i) pendingModalForce[i] = 0.0;
    }
    if (sceneSelector == kBellScene) swingImpulse += torque;
    impactTime.reset();
    impactMarkerOn = true;
}

void repeatLastImpact() {
    applyImpact(lastImpact.vertex, lastImpact.direction[0], lastImpact.direction[1],
                lastImpact.direction[2], lastImpact.torque);
}
