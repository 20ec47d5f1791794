// Closed triangle meshes of simple solids (boxes, oriented boxes, cylinders), the building blocks
// of the bell's fixtures. Each is outward-oriented and closed on its own.
#pragma once

#include "tools/bake/surface/surface_mesh.h"

// Axis-aligned box between `lower` and `upper` (12 triangles).
SurfaceMesh makeBox(const Eigen::Vector3d& lower, const Eigen::Vector3d& upper);

// Box with centre `center`, orthonormal edge directions `axes` (columns) and half extents.
SurfaceMesh makeOrientedBox(const Eigen::Vector3d& center, const Eigen::Matrix3d& axes,
                            const Eigen::Vector3d& halfExtents);

// Cylinder of `radius` from `start` to `end` with `segments` sides, closed by two fan caps.
SurfaceMesh makeCylinder(const Eigen::Vector3d& start, const Eigen::Vector3d& end, double radius,
                         int segments);
