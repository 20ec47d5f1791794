// The strike's modal forces and the nearest-vertex search.
#include "sound/impact.h"

#include <cfloat>

#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"
#include "sound/synthesis_state.h"

bool modalImpactForces(const ModeShapeMatrix& shapes, int vertex, const double direction[3],
                       double magnitude, double* forces) {
    if (vertex < 0 || vertex >= shapes.vertexCount) return false;
    const double F[3] = {magnitude * direction[0], magnitude * direction[1],
                         magnitude * direction[2]};
    shapes.addPointForce(vertex, F[0], F[1], F[2], forces);
    return true;
}

void applyImpact(const ModeShapeMatrix& shapes, int vertex, const double direction[3],
                 double magnitude) {
    MutexLock lock(forceMutex);
    modalImpactForces(shapes, vertex, direction, magnitude, pendingModalForce);
    // Only the modes being synthesised receive force.
    const int active = activeModeCount.load(std::memory_order_relaxed);
    for (int i = active; i < totalModeCount; ++i) pendingModalForce[i] = 0.0;
}

int findNearestVertex(const ObjModel& mesh, double qx, double qy, double qz) {
    double best = DBL_MAX;
    int result = 0;
    for (unsigned i = 0; i < mesh.vertexCount; ++i) {
        // The model's vertices are 1-based: entry 0 holds zeros.
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
