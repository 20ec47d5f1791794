// Nearest points of a triangle surface (see nearest_surface_point.h).
#include "tools/bake/transfer/wave/nearest_surface_point.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <limits>

Eigen::Vector3d nearestPointOnTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a,
                                       const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                                       Eigen::Vector3d* barycentric) {
    const Eigen::Vector3d ab = b - a, ac = c - a, ap = p - a;
    const double d1 = ab.dot(ap), d2 = ac.dot(ap);
    if (d1 <= 0 && d2 <= 0) {
        *barycentric = {1, 0, 0};
        return a;
    }
    const Eigen::Vector3d bp = p - b;
    const double d3 = ab.dot(bp), d4 = ac.dot(bp);
    if (d3 >= 0 && d4 <= d3) {
        *barycentric = {0, 1, 0};
        return b;
    }
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        const double v = d1 / (d1 - d3);
        *barycentric = {1 - v, v, 0};
        return a + v * ab;
    }
    const Eigen::Vector3d cp = p - c;
    const double d5 = ab.dot(cp), d6 = ac.dot(cp);
    if (d6 >= 0 && d5 <= d6) {
        *barycentric = {0, 0, 1};
        return c;
    }
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        const double w = d2 / (d2 - d6);
        *barycentric = {1 - w, 0, w};
        return a + w * ac;
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        *barycentric = {0, 1 - w, w};
        return b + w * (c - b);
    }
    const double denominator = 1 / (va + vb + vc);
    const double v = vb * denominator, w = vc * denominator;
    *barycentric = {1 - v - w, v, w};
    return a + v * ab + w * ac;
}

NearestSurfacePoint::NearestSurfacePoint(const SurfaceMesh& surface, double bucketSize)
    : surface_(surface), bucketSize_(bucketSize) {
    Eigen::Vector3d upper;
    boundingBox(surface, lower_, upper);
    for (int axis = 0; axis < 3; ++axis)
        n_[axis] = std::max(1, int(std::ceil((upper[axis] - lower_[axis]) / bucketSize_)));
    const size_t bucketCount = size_t(n_[0]) * n_[1] * n_[2];
    // Two passes over the triangles' bounding boxes: count, then fill.
    std::vector<std::array<int, 6>> ranges;
    normals_.reserve(surface.triangles.size());
    for (const std::array<int, 3>& t : surface.triangles) {
        const Eigen::Vector3d& a = surface.positions[t[0]];
        const Eigen::Vector3d& b = surface.positions[t[1]];
        const Eigen::Vector3d& c = surface.positions[t[2]];
        normals_.push_back((b - a).cross(c - a).normalized());
        std::array<int, 6> range;
        for (int axis = 0; axis < 3; ++axis) {
            const double lo = std::min({a[axis], b[axis], c[axis]}) - lower_[axis];
            const double hi = std::max({a[axis], b[axis], c[axis]}) - lower_[axis];
            range[axis] = std::clamp(int(std::floor(lo / bucketSize_)), 0, n_[axis] - 1);
            range[axis + 3] = std::clamp(int(std::floor(hi / bucketSize_)), 0, n_[axis] - 1);
        }
        ranges.push_back(range);
    }
    bucketStart_.assign(bucketCount + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<int> fill;
        if (pass == 1) {
            for (size_t i = 0; i < bucketCount; ++i) bucketStart_[i + 1] += bucketStart_[i];
            bucketTriangles_.resize(size_t(bucketStart_[bucketCount]));
            fill.assign(bucketStart_.begin(), bucketStart_.end() - 1);
        }
        for (size_t t = 0; t < ranges.size(); ++t) {
            const std::array<int, 6>& r = ranges[t];
            for (int k = r[2]; k <= r[5]; ++k)
                for (int j = r[1]; j <= r[4]; ++j)
                    for (int i = r[0]; i <= r[3]; ++i) {
                        const size_t bucket = i + size_t(n_[0]) * (j + size_t(n_[1]) * k);
                        if (pass == 0)
                            ++bucketStart_[bucket + 1];
                        else
                            bucketTriangles_[size_t(fill[bucket]++)] = int(t);
                    }
        }
    }
}

SurfacePoint NearestSurfacePoint::nearest(const Eigen::Vector3d& x, const Eigen::Vector3d& facing,
                                          double maxDistance) const {
    SurfacePoint best;
    best.distance = std::numeric_limits<double>::infinity();
    const bool anyFacing = facing.squaredNorm() == 0;
    int centre[3];
    for (int axis = 0; axis < 3; ++axis)
        centre[axis] = int(std::floor((x[axis] - lower_[axis]) / bucketSize_));
    // Buckets of shell r (Chebyshev distance r in bucket indices from x's bucket) are at least
    // (r - 1) bucket sides away from x: stop once the best point found is nearer than that.
    // No shell beyond `lastShell` holds a bucket of the grid, which also bounds an unlimited
    // search (maxDistance infinite: its shell count is no integer).
    int lastShell = 0;
    for (int axis = 0; axis < 3; ++axis)
        lastShell =
            std::max({lastShell, std::abs(centre[axis]), std::abs(n_[axis] - 1 - centre[axis])});
    const double shells = std::ceil(maxDistance / bucketSize_) + 1;
    const int maxShell = shells < double(lastShell) ? int(shells) : lastShell;
    for (int r = 0; r <= maxShell; ++r) {
        if (best.triangle >= 0 && best.distance <= (r - 1) * bucketSize_) break;
        for (int k = centre[2] - r; k <= centre[2] + r; ++k) {
            if (k < 0 || k >= n_[2]) continue;
            for (int j = centre[1] - r; j <= centre[1] + r; ++j) {
                if (j < 0 || j >= n_[1]) continue;
                const bool edgeJk = std::abs(k - centre[2]) == r || std::abs(j - centre[1]) == r;
                for (int i = centre[0] - r; i <= centre[0] + r;
                     i += (edgeJk ? 1 : 2 * std::max(r, 1))) {
                    if (i < 0 || i >= n_[0]) continue;
                    const size_t bucket = i + size_t(n_[0]) * (j + size_t(n_[1]) * k);
                    for (int s = bucketStart_[bucket]; s < bucketStart_[bucket + 1]; ++s) {
                        const int t = bucketTriangles_[size_t(s)];
                        if (!anyFacing && normals_[size_t(t)].dot(facing) <= 0) continue;
                        const std::array<int, 3>& tri = surface_.triangles[size_t(t)];
                        Eigen::Vector3d weights;
                        const Eigen::Vector3d point = nearestPointOnTriangle(
                            x, surface_.positions[tri[0]], surface_.positions[tri[1]],
                            surface_.positions[tri[2]], &weights);
                        const double distance = (point - x).norm();
                        if (distance < best.distance) {
                            best = {t, weights, point, distance};
                        }
                    }
                }
            }
        }
    }
    if (best.distance > maxDistance) return SurfacePoint();
    return best;
}
