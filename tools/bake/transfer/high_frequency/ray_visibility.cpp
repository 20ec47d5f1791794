// The triangle hierarchy and the visibility table (see ray_visibility.h).
#include "tools/bake/transfer/high_frequency/ray_visibility.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <limits>

#include "tools/bake/common/parallel_for.h"

namespace {

constexpr int kLeafSize = 4;
constexpr int kBins = 16;  // candidate split planes per axis in the build
constexpr int kMaxSahDepth = 48;
constexpr double kSegmentEndTolerance = 1e-12;

// Slab test: the parameter interval in which origin + s * direction lies inside the box, clipped
// to [0, 1]; false when it is empty. Branch-free; a NaN (origin on a slab plane of a direction
// component 0) leaves the interval as it is.
inline bool segmentMeetsBox(const Eigen::Vector3d& origin, const Eigen::Vector3d& inverseDirection,
                            const Eigen::Vector3d& lower, const Eigen::Vector3d& upper,
                            double end = 1.0) {
    const Eigen::Array3d s0 = (lower - origin).array() * inverseDirection.array();
    const Eigen::Array3d s1 = (upper - origin).array() * inverseDirection.array();
    const double enter = std::max(s0.min(s1).maxCoeff(), 0.0);
    const double leave = std::min(s0.max(s1).minCoeff(), end);
    return enter <= leave;
}

double surfaceArea(const Eigen::Vector3d& lower, const Eigen::Vector3d& upper) {
    const Eigen::Vector3d e = (upper - lower).cwiseMax(0.0);
    return e.x() * e.y() + e.y() * e.z() + e.z() * e.x();
}

}  // namespace

TriangleBvh::TriangleBvh(const std::vector<Eigen::Vector3d>& positions,
                         const std::vector<std::array<int, 3>>& triangles) {
    const int count = static_cast<int>(triangles.size());
    std::vector<Eigen::Vector3d> centroids(count);
    cornerA_.resize(count);
    edgeAB_.resize(count);
    edgeAC_.resize(count);
    lower_.resize(count);
    upper_.resize(count);
    order_.resize(count);
    for (int t = 0; t < count; ++t) {
        const Eigen::Vector3d &a = positions[triangles[t][0]], &b = positions[triangles[t][1]],
                              &c = positions[triangles[t][2]];
        cornerA_[t] = a;
        edgeAB_[t] = b - a;
        edgeAC_[t] = c - a;
        lower_[t] = a.cwiseMin(b).cwiseMin(c);
        upper_[t] = a.cwiseMax(b).cwiseMax(c);
        centroids[t] = (a + b + c) / 3.0;
        order_[t] = t;
    }
    nodes_.reserve(2 * static_cast<size_t>(count) / kLeafSize + 1);
    if (count > 0) build(0, count, 0, centroids);
    lower_.clear();
    lower_.shrink_to_fit();
    upper_.clear();
    upper_.shrink_to_fit();
}

int TriangleBvh::build(int begin, int end, int depth,
                       const std::vector<Eigen::Vector3d>& centroids) {
    const int index = static_cast<int>(nodes_.size());
    nodes_.emplace_back();
    Eigen::Vector3d lower = lower_[order_[begin]], upper = upper_[order_[begin]];
    Eigen::Vector3d centreLower = centroids[order_[begin]], centreUpper = centreLower;
    for (int i = begin; i < end; ++i) {
        const int t = order_[i];
        lower = lower.cwiseMin(lower_[t]);
        upper = upper.cwiseMax(upper_[t]);
        centreLower = centreLower.cwiseMin(centroids[t]);
        centreUpper = centreUpper.cwiseMax(centroids[t]);
    }
    nodes_[index].lower = lower;
    nodes_[index].upper = upper;
    if (end - begin <= kLeafSize) {
        nodes_[index].first = begin;
        nodes_[index].count = end - begin;
        return index;
    }
    // Surface area heuristic over kBins bins of the centroids along each axis: the split that
    // minimises (area left * count left + area right * count right); the median of the widest axis
    // when every centroid falls in one bin.
    int bestAxis = -1, bestBin = 0;
    double bestCost = std::numeric_limits<double>::infinity();
    // Past kMaxSahDepth only median splits, which halve: the traversal stack stays small.
    for (int axis = 0; axis < 3 && depth < kMaxSahDepth; ++axis) {
        const double extent = centreUpper[axis] - centreLower[axis];
        if (!(extent > 0)) continue;
        std::array<int, kBins> count{};
        std::array<Eigen::Vector3d, kBins> binLower, binUpper;
        binLower.fill(Eigen::Vector3d::Constant(std::numeric_limits<double>::infinity()));
        binUpper.fill(Eigen::Vector3d::Constant(-std::numeric_limits<double>::infinity()));
        for (int i = begin; i < end; ++i) {
            const int t = order_[i];
            const int bin = std::min(
                kBins - 1,
                static_cast<int>(kBins * (centroids[t][axis] - centreLower[axis]) / extent));
            ++count[bin];
            binLower[bin] = binLower[bin].cwiseMin(lower_[t]);
            binUpper[bin] = binUpper[bin].cwiseMax(upper_[t]);
        }
        // Sweep from the right, then from the left, adding up counts and boxes.
        std::array<double, kBins> rightCost{};
        Eigen::Vector3d accLower = binLower[kBins - 1], accUpper = binUpper[kBins - 1];
        int accCount = 0;
        for (int b = kBins - 1; b > 0; --b) {
            accLower = accLower.cwiseMin(binLower[b]);
            accUpper = accUpper.cwiseMax(binUpper[b]);
            accCount += count[b];
            rightCost[b] = accCount * surfaceArea(accLower, accUpper);
        }
        accLower = binLower[0];
        accUpper = binUpper[0];
        accCount = 0;
        for (int b = 0; b + 1 < kBins; ++b) {
            accLower = accLower.cwiseMin(binLower[b]);
            accUpper = accUpper.cwiseMax(binUpper[b]);
            accCount += count[b];
            const double cost = accCount * surfaceArea(accLower, accUpper) + rightCost[b + 1];
            if (accCount > 0 && accCount < end - begin && cost < bestCost) {
                bestCost = cost;
                bestAxis = axis;
                bestBin = b;
            }
        }
    }
    int middle;
    if (bestAxis >= 0) {
        const double extent = centreUpper[bestAxis] - centreLower[bestAxis];
        middle = static_cast<int>(
            std::partition(order_.begin() + begin, order_.begin() + end,
                           [&](int t) {
                               return std::min(kBins - 1, static_cast<int>(kBins *
                                                                           (centroids[t][bestAxis] -
                                                                            centreLower[bestAxis]) /
                                                                           extent)) <= bestBin;
                           }) -
            order_.begin());
    } else {
        int axis = 0;
        (centreUpper - centreLower).maxCoeff(&axis);
        middle = (begin + end) / 2;
        std::nth_element(order_.begin() + begin, order_.begin() + middle, order_.begin() + end,
                         [&](int p, int q) { return centroids[p][axis] < centroids[q][axis]; });
    }
    build(begin, middle, depth + 1, centroids);  // first child: index + 1
    const int second = build(middle, end, depth + 1, centroids);
    nodes_[index].first = second;
    nodes_[index].count = 0;
    return index;
}

bool TriangleBvh::segmentCrosses(const Eigen::Vector3d& from, const Eigen::Vector3d& direction,
                                 int t) const {
    const double s = crossingParameter(from, direction, t);
    return s > kSegmentEndTolerance && s < 1 - kSegmentEndTolerance;
}

double TriangleBvh::crossingParameter(const Eigen::Vector3d& from, const Eigen::Vector3d& direction,
                                      int t) const {
    // Moller-Trumbore: from + s d = a + u e1 + v e2 solved by Cramer's rule.
    const Eigen::Vector3d& e1 = edgeAB_[t];
    const Eigen::Vector3d& e2 = edgeAC_[t];
    const Eigen::Vector3d p = direction.cross(e2);
    const double determinant = e1.dot(p);
    if (determinant == 0) return -1;  // segment parallel to the triangle's plane
    const double inverse = 1 / determinant;
    const Eigen::Vector3d offset = from - cornerA_[t];
    const double u = offset.dot(p) * inverse;
    if (u < 0 || u > 1) return -1;
    const Eigen::Vector3d q = offset.cross(e1);
    const double v = direction.dot(q) * inverse;
    if (v < 0 || u + v > 1) return -1;
    return e2.dot(q) * inverse;
}

template <class VisitTriangle>
void TriangleBvh::visitLeaves(const Eigen::Vector3d& from, const Eigen::Vector3d& direction,
                              const double& end, VisitTriangle visit) const {
    const Eigen::Vector3d inverseDirection = direction.cwiseInverse();
    int stack[128];  // depth <= kMaxSahDepth + log2(triangles) + 1
    int top = 0;
    if (!nodes_.empty()) stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes_[stack[--top]];
        if (!segmentMeetsBox(from, inverseDirection, node.lower, node.upper, end)) continue;
        if (node.count == 0) {
            const int self = static_cast<int>(&node - nodes_.data());
            stack[top++] = node.first;
            stack[top++] = self + 1;
            continue;
        }
        for (int i = node.first; i < node.first + node.count; ++i)
            if (visit(order_[i])) return;
    }
}

int TriangleBvh::firstCrossing(const Eigen::Vector3d& from, const Eigen::Vector3d& to,
                               int ignoredTriangle, double* parameter) const {
    const Eigen::Vector3d direction = to - from;
    // The segment is cut short at each crossing found, so farther boxes drop out.
    double nearest = 1 - kSegmentEndTolerance;
    int found = -1;
    visitLeaves(from, direction, nearest, [&](int t) {
        if (t == ignoredTriangle) return false;
        const double s = crossingParameter(from, direction, t);
        if (s > kSegmentEndTolerance && s < nearest) {
            nearest = s;
            found = t;
        }
        return false;
    });
    if (parameter) *parameter = found >= 0 ? nearest : 1;
    return found;
}

bool TriangleBvh::segmentBlocked(const Eigen::Vector3d& from, const Eigen::Vector3d& to,
                                 int ignoredTriangle, int* lastBlocker) const {
    if (nodes_.empty()) return false;
    const Eigen::Vector3d direction = to - from;
    // Neighbouring segments towards one point tend to be stopped by the same triangle.
    if (lastBlocker && *lastBlocker >= 0 && *lastBlocker != ignoredTriangle &&
        segmentCrosses(from, direction, *lastBlocker))
        return true;
    bool blocked = false;
    visitLeaves(from, direction, 1.0, [&](int t) {
        if (t == ignoredTriangle || !segmentCrosses(from, direction, t)) return false;
        if (lastBlocker) *lastBlocker = t;
        blocked = true;
        return true;
    });
    return blocked;
}

int PointVisibility::seenCount(int point) const {
    int count = 0;
    const std::uint64_t* words = row(point);
    for (int w = 0; w < wordsPerPoint; ++w) count += __builtin_popcountll(words[w]);
    return count;
}

PointVisibility allVisible(int pointCount, int triangleCount) {
    PointVisibility table;
    table.pointCount = pointCount;
    table.triangleCount = triangleCount;
    table.wordsPerPoint = (triangleCount + 63) / 64;
    table.bits.assign(static_cast<size_t>(pointCount) * table.wordsPerPoint, ~std::uint64_t(0));
    if (triangleCount % 64 != 0)  // clear the bits past the last triangle
        for (int p = 0; p < pointCount; ++p)
            table.bits[static_cast<size_t>(p + 1) * table.wordsPerPoint - 1] =
                (std::uint64_t(1) << (triangleCount % 64)) - 1;
    return table;
}

PointVisibility computeVisibility(const SurfaceMesh& mesh,
                                  const std::vector<Eigen::Vector3d>& points, int threadCount,
                                  bool testOcclusion) {
    const int triangleCount = static_cast<int>(mesh.triangles.size());
    PointVisibility table = allVisible(static_cast<int>(points.size()), triangleCount);
    std::fill(table.bits.begin(), table.bits.end(), 0);
    // Segment starts and normals, once: c_t + lift * longest edge * n_t.
    std::vector<Eigen::Vector3d> centroids(triangleCount), starts(triangleCount),
        normals(triangleCount);
    for (int t = 0; t < triangleCount; ++t) {
        const Eigen::Vector3d &a = mesh.positions[mesh.triangles[t][0]],
                              &b = mesh.positions[mesh.triangles[t][1]],
                              &c = mesh.positions[mesh.triangles[t][2]];
        normals[t] = (b - a).cross(c - a).normalized();
        const double longest = std::max({(b - a).norm(), (c - b).norm(), (a - c).norm()});
        centroids[t] = (a + b + c) / 3.0;
        starts[t] = centroids[t] + kVisibilityLift * longest * normals[t];
    }
    // A triangle whose plane has the whole mesh behind it (a face of the convex hull) cannot be
    // hidden from a point in front of it: the segment between them stays in front of the plane.
    std::vector<char> onHull(triangleCount, 0);
    if (testOcclusion) {
        const int vertexCount = static_cast<int>(mesh.positions.size());
        Eigen::Matrix3Xd vertices(3, vertexCount);
        for (int v = 0; v < vertexCount; ++v) vertices.col(v) = mesh.positions[v];
        Eigen::Vector3d lower, upper;
        boundingBox(mesh, lower, upper);
        const double tolerance = 1e-9 * (upper - lower).norm();
        parallelFor(triangleCount, threadCount, [&](int t) {
            const double offset = normals[t].dot(mesh.positions[mesh.triangles[t][0]]) + tolerance;
            for (int begin = 0; begin < vertexCount; begin += 256) {
                const int count = std::min(256, vertexCount - begin);
                if ((normals[t].transpose() * vertices.middleCols(begin, count)).maxCoeff() >
                    offset)
                    return;  // some vertex in front
            }
            onHull[t] = 1;
        });
    }
    const TriangleBvh hierarchy(mesh.positions, mesh.triangles);
    parallelFor(table.pointCount, threadCount, [&](int p) {
        std::uint64_t* words = table.bits.data() + static_cast<size_t>(p) * table.wordsPerPoint;
        const Eigen::Vector3d& x = points[p];
        int lastBlocker = -1;
        for (int t = 0; t < triangleCount; ++t) {
            if ((x - centroids[t]).dot(normals[t]) <= 0) continue;  // faces away from x
            if (testOcclusion && !onHull[t] &&
                hierarchy.segmentBlocked(starts[t], x, t, &lastBlocker))
                continue;
            words[t / 64] |= std::uint64_t(1) << (t % 64);
        }
    });
    return table;
}
