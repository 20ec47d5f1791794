// The modal force at a point inside a triangle, and the nearest point of a mesh.
#include "sound/surface_point.h"

#include <cfloat>
#include <cmath>

#include "geometry/mode_shape_matrix.h"
#include "geometry/obj_model.h"

bool modalSurfaceForces(const ModeShapeMatrix& shapes, const SurfacePoint& point,
                        const double direction[3], double magnitude, double* forces) {
    for (int k = 0; k < 3; ++k) {
        if (point.vertex[k] < 0 || point.vertex[k] >= shapes.vertexCount) return false;
    }
    // Linear interpolation of the shape is the projection of the force split over the corners
    // in the weights' proportions: u(p) . F = sum_k u(v_k) . (w_k F).
    for (int k = 0; k < 3; ++k) {
        const double scale = point.weight[k] * magnitude;
        if (scale == 0.0) continue;
        shapes.addPointForce(point.vertex[k], scale * direction[0], scale * direction[1],
                             scale * direction[2], forces);
    }
    return true;
}

namespace {

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Barycentric coordinates (u, v, w) of the point of triangle abc nearest to p (Ericson,
// "Real-Time Collision Detection", 2005, 5.1.5: the Voronoi regions of the corners, the edges
// and the face, tested in turn).
void closestOnTriangle(const double p[3], const double a[3], const double b[3], const double c[3],
                       double bary[3]) {
    double ab[3], ac[3], ap[3];
    for (int k = 0; k < 3; ++k) {
        ab[k] = b[k] - a[k];
        ac[k] = c[k] - a[k];
        ap[k] = p[k] - a[k];
    }
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    auto set = [&](double u, double v, double w) { bary[0] = u, bary[1] = v, bary[2] = w; };
    if (d1 <= 0 && d2 <= 0) return set(1, 0, 0);
    double bp[3], cp[3];
    for (int k = 0; k < 3; ++k) {
        bp[k] = p[k] - b[k];
        cp[k] = p[k] - c[k];
    }
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return set(0, 1, 0);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        const double v = d1 / (d1 - d3);
        return set(1 - v, v, 0);
    }
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return set(0, 0, 1);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        const double w = d2 / (d2 - d6);
        return set(1 - w, 0, w);
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return set(0, 1 - w, w);
    }
    const double denominator = 1.0 / (va + vb + vc);
    const double v = vb * denominator, w = vc * denominator;
    set(1 - v - w, v, w);
}

}  // namespace

bool findSurfacePoint(const ObjModel& mesh, const double q[3], SurfacePoint* point,
                      double normal[3]) {
    double best = DBL_MAX;
    bool found = false;
    for (uint32_t t = 0; t < mesh.triangleCount; ++t) {
        double corner[3][3];
        for (int k = 0; k < 3; ++k) {
            const float* v = &mesh.vertices[3 * mesh.triangles[t].vertexIndices[k]];
            for (int a = 0; a < 3; ++a) corner[k][a] = v[a];
        }
        double bary[3];
        closestOnTriangle(q, corner[0], corner[1], corner[2], bary);
        double d2 = 0.0;
        for (int a = 0; a < 3; ++a) {
            const double x =
                bary[0] * corner[0][a] + bary[1] * corner[1][a] + bary[2] * corner[2][a] - q[a];
            d2 += x * x;
        }
        if (d2 >= best) continue;
        best = d2;
        found = true;
        for (int k = 0; k < 3; ++k) {
            // The model's vertices are 1-based.
            point->vertex[k] = static_cast<int>(mesh.triangles[t].vertexIndices[k]) - 1;
            point->weight[k] = bary[k];
        }
        double e1[3], e2[3];
        for (int a = 0; a < 3; ++a) {
            e1[a] = corner[1][a] - corner[0][a];
            e2[a] = corner[2][a] - corner[0][a];
        }
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
        const double length = std::sqrt(dot(n, n));
        for (int a = 0; a < 3; ++a) normal[a] = length > 0 ? n[a] / length : 0.0;
    }
    return found;
}
