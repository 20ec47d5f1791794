// Boxes and cylinders as closed triangle meshes (see solid_primitives.h).
#include "tools/bake/surface/solid_primitives.h"

#include <Eigen/Geometry>
#include <cmath>

SurfaceMesh makeOrientedBox(const Eigen::Vector3d& center, const Eigen::Matrix3d& axes,
                            const Eigen::Vector3d& halfExtents) {
    SurfaceMesh mesh;
    for (int k = 0; k < 8; ++k) {
        const Eigen::Vector3d sign((k & 1) ? 1.0 : -1.0, (k & 2) ? 1.0 : -1.0,
                                   (k & 4) ? 1.0 : -1.0);
        mesh.positions.push_back(center + axes * sign.cwiseProduct(halfExtents));
    }
    // Corner k has bit 0 = +x, bit 1 = +y, bit 2 = +z (in the box's own axes); two triangles per
    // face, counter-clockwise seen from outside for a right-handed `axes`.
    const int faces[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
    for (const auto& f : faces) {
        mesh.triangles.push_back({f[0], f[1], f[2]});
        mesh.triangles.push_back({f[0], f[2], f[3]});
    }
    if (enclosedVolume(mesh) < 0.0) flipOrientation(mesh);
    return mesh;
}

SurfaceMesh makeBox(const Eigen::Vector3d& lower, const Eigen::Vector3d& upper) {
    return makeOrientedBox(0.5 * (lower + upper), Eigen::Matrix3d::Identity(),
                           0.5 * (upper - lower));
}

SurfaceMesh makeCylinder(const Eigen::Vector3d& start, const Eigen::Vector3d& end, double radius,
                         int segments) {
    const Eigen::Vector3d axis = (end - start).normalized();
    const Eigen::Vector3d u = axis.unitOrthogonal(), v = axis.cross(u);
    SurfaceMesh mesh;
    for (int end_ = 0; end_ < 2; ++end_) {
        const Eigen::Vector3d base = end_ ? end : start;
        for (int k = 0; k < segments; ++k) {
            const double phi = 2.0 * 3.141592653589793 * k / segments;
            mesh.positions.push_back(base + radius * (std::cos(phi) * u + std::sin(phi) * v));
        }
    }
    mesh.positions.push_back(start);
    mesh.positions.push_back(end);
    const int capStart = 2 * segments, capEnd = 2 * segments + 1;
    for (int k = 0; k < segments; ++k) {
        const int k1 = (k + 1) % segments;
        mesh.triangles.push_back({k, k1, segments + k1});
        mesh.triangles.push_back({k, segments + k1, segments + k});
        mesh.triangles.push_back({capStart, k1, k});
        mesh.triangles.push_back({capEnd, segments + k, segments + k1});
    }
    if (enclosedVolume(mesh) < 0.0) flipOrientation(mesh);
    return mesh;
}
