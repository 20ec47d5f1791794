// The staircase boundary and its prescribed velocities (see boundary_faces.h).
#include "tools/bake/transfer/wave/boundary_faces.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <limits>

#include "tools/bake/common/parallel_for.h"
#include "tools/bake/transfer/wave/nearest_surface_point.h"

Eigen::Vector3d faceCentre(const WaveGrid& grid, const BoundaryFace& face) {
    int ijk[3];
    grid.coordinates(face.cell, ijk);
    Eigen::Vector3d centre = grid.cellCentre(ijk[0], ijk[1], ijk[2]);
    centre[face.axis] += 0.5 * grid.h;
    return centre;
}

std::vector<BoundaryFace> solidAirFaces(const WaveGrid& grid, const std::vector<uint8_t>& solid) {
    std::vector<BoundaryFace> faces;
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t step = grid.stride(axis);
        for (int k = 0; k < grid.n[2]; ++k)
            for (int j = 0; j < grid.n[1]; ++j)
                for (int i = 0; i < grid.n[0]; ++i) {
                    const int ijk[3] = {i, j, k};
                    if (ijk[axis] + 1 >= grid.n[axis]) continue;
                    const int64_t cell = grid.index(i, j, k);
                    if (solid[size_t(cell)] == solid[size_t(cell + step)]) continue;
                    BoundaryFace face;
                    face.cell = cell;
                    face.axis = axis;
                    face.airSide = solid[size_t(cell)] ? 1 : -1;
                    faces.push_back(face);
                }
    }
    return faces;
}

std::vector<BoundaryFace> findBoundaryFaces(const WaveGrid& grid, const std::vector<uint8_t>& solid,
                                            const SurfaceMesh& surface, int threads) {
    std::vector<BoundaryFace> faces = solidAirFaces(grid, solid);
    const NearestSurfacePoint locator(surface, 2 * grid.h);
    const double searchRadius = 4 * grid.h;
    parallelFor(int(faces.size()), threads, [&](int f) {
        BoundaryFace& face = faces[size_t(f)];
        const Eigen::Vector3d centre = faceCentre(grid, face);
        const Eigen::Vector3d airward = face.airSide * Eigen::Vector3d::Unit(face.axis);
        SurfacePoint point = locator.nearest(centre, airward, searchRadius);
        if (point.triangle < 0) {
            // Only far from the surface (an enclosed pocket's wall): the nearest facing
            // triangle anywhere.
            point = locator.nearest(centre, airward, std::numeric_limits<double>::infinity());
        }
        face.triangle = point.triangle;
        face.barycentric = point.barycentric;
        face.distance = point.distance;
        face.normalComponent =
            point.triangle >= 0 ? locator.normal(point.triangle)[face.axis] : 0.0;
    });
    return faces;
}

Eigen::MatrixXd faceVelocities(const std::vector<BoundaryFace>& faces, const SurfaceMesh& surface,
                               const Eigen::MatrixXd& vertexVelocity) {
    const int modes = int(vertexVelocity.cols());
    Eigen::MatrixXd velocity(faces.size(), modes);
    for (size_t f = 0; f < faces.size(); ++f) {
        const BoundaryFace& face = faces[f];
        if (face.triangle < 0) {  // a surface without triangles: a rigid face
            velocity.row(Eigen::Index(f)).setZero();
            continue;
        }
        const std::array<int, 3>& t = surface.triangles[size_t(face.triangle)];
        const Eigen::Vector3d& a = surface.positions[t[0]];
        const Eigen::Vector3d n =
            (surface.positions[t[1]] - a).cross(surface.positions[t[2]] - a).normalized();
        for (int mode = 0; mode < modes; ++mode) {
            // u(x*) = sum_c w_c u_c over the triangle's corners; v_n = u . n; u_face = v_n n_a.
            Eigen::Vector3d u = Eigen::Vector3d::Zero();
            for (int corner = 0; corner < 3; ++corner)
                u += face.barycentric[corner] *
                     vertexVelocity.block<3, 1>(3 * t[size_t(corner)], mode);
            velocity(Eigen::Index(f), mode) = u.dot(n) * face.normalComponent;
        }
    }
    return velocity;
}
