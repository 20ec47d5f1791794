// The point of a triangle surface nearest to a point in space, optionally among the triangles that
// face a given way: how the wave tier finds, for each face of its staircase boundary
// (boundary_faces.h), the point of the smooth surface whose velocity the face carries. The two
// sides of a wall thinner than a cell are kept apart by asking for triangles facing the face's
// air side.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"

struct SurfacePoint {
    int triangle = -1;                                      // -1: none found
    Eigen::Vector3d barycentric = Eigen::Vector3d::Zero();  // weights of the triangle's corners
    Eigen::Vector3d point = Eigen::Vector3d::Zero();        // m
    double distance = 0;                                    // m
};

// Triangles of a surface in buckets of a uniform grid, searched shell by shell of buckets around
// the query. Read-only after construction: queries are thread-safe.
class NearestSurfacePoint {
  public:
    // bucketSize: side of a bucket (m), about the distance of the queries from the surface.
    NearestSurfacePoint(const SurfaceMesh& surface, double bucketSize);

    // The nearest point of the triangles whose unit outward normal n has n . facing > 0 (every
    // triangle when `facing` is zero) within `maxDistance` (m) of x; triangle -1 when there is
    // none.
    SurfacePoint nearest(const Eigen::Vector3d& x, const Eigen::Vector3d& facing,
                         double maxDistance) const;

    // The outward unit normal of triangle t.
    const Eigen::Vector3d& normal(int t) const { return normals_[size_t(t)]; }

  private:
    const SurfaceMesh& surface_;
    std::vector<Eigen::Vector3d> normals_;
    Eigen::Vector3d lower_;
    double bucketSize_;
    int n_[3];
    std::vector<int> bucketStart_, bucketTriangles_;  // compressed rows: bucket -> triangles
};

// The point of triangle (a, b, c) nearest to p, with its barycentric weights (Ericson, Real-Time
// Collision Detection 5.1.5: the Voronoi regions of the vertices, edges and face in turn).
Eigen::Vector3d nearestPointOnTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a,
                                       const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                                       Eigen::Vector3d* barycentric);
