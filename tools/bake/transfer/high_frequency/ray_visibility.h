// Which triangles of a closed surface each point in the air sees: the visibility table of the
// high-frequency radiation model (kirchhoff_radiation.h), which integrates the surface's radiation
// over the visible elements only. The baker's transfer stage computes it once per object for the
// points where it samples the field (about 2,000), on all cores, and reuses it for every mode.
//
// Triangle t is seen from x when it faces x, (x - c_t) . n_t > 0 with c_t its centroid and n_t its
// outward normal, and the segment from c_t (lifted off the surface along n_t by
// kVisibilityLift * its longest edge) to x crosses no other triangle. A bounding volume hierarchy
// over the triangles answers each segment in about log(triangles) box tests.
#pragma once

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

#include "tools/bake/surface/surface_mesh.h"

// The lift of a segment's start off its triangle, as a fraction of the triangle's longest edge.
constexpr double kVisibilityLift = 1e-3;

// Bounding volume hierarchy over the triangles of a mesh: axis-aligned boxes, two children per
// node, leaves of a few triangles, split by the surface area heuristic (binned).
class TriangleBvh {
  public:
    // Builds the hierarchy over `triangles` (0-based indices into `positions`, metres). The mesh
    // need not be closed. Precondition: every index is in range.
    TriangleBvh(const std::vector<Eigen::Vector3d>& positions,
                const std::vector<std::array<int, 3>>& triangles);

    // True when the open segment from `from` to `to` crosses a triangle other than
    // `ignoredTriangle` (pass -1 to test all). Crossings at the very ends (segment parameter
    // within 1e-12 of 0 or 1) do not count. `lastBlocker`, when given, is a triangle to try first
    // (-1: none) and receives the blocking triangle found. Thread-safe: the hierarchy is read only.
    bool segmentBlocked(const Eigen::Vector3d& from, const Eigen::Vector3d& to, int ignoredTriangle,
                        int* lastBlocker = nullptr) const;

    // The triangle other than `ignoredTriangle` that the open segment from `from` to `to` crosses
    // first (nearest `from`), or -1 when it crosses none; `parameter`, when given, receives the
    // crossing's place s along the segment (from + s (to - from), 0 < s < 1; 1 when none).
    // Thread-safe.
    int firstCrossing(const Eigen::Vector3d& from, const Eigen::Vector3d& to, int ignoredTriangle,
                      double* parameter = nullptr) const;

    int nodeCount() const { return static_cast<int>(nodes_.size()); }

  private:
    struct Node {
        Eigen::Vector3d lower, upper;
        int first = 0;  // leaf: first entry of order_; inner: index of the second child
        int count = 0;  // leaf: triangle count; 0 for inner nodes (first child is this + 1)
    };
    int build(int begin, int end, int depth, const std::vector<Eigen::Vector3d>& centroids);
    bool segmentCrosses(const Eigen::Vector3d& from, const Eigen::Vector3d& direction,
                        int triangle) const;
    // Calls visit(t) for the triangles t of every leaf whose box the segment from + s direction,
    // 0 <= s <= end, meets, until visit returns true. `end` is read at each box, so a visit may
    // shorten the segment.
    template <class VisitTriangle>
    void visitLeaves(const Eigen::Vector3d& from, const Eigen::Vector3d& direction,
                     const double& end, VisitTriangle visit) const;
    // Where from + s direction meets the triangle (s), or -1 when it misses it.
    double crossingParameter(const Eigen::Vector3d& from, const Eigen::Vector3d& direction,
                             int triangle) const;

    std::vector<Node> nodes_;
    std::vector<int> order_;  // triangle indices, grouped by leaf
    // Per triangle, for the segment test: corner a and the edges b - a, c - a.
    std::vector<Eigen::Vector3d> cornerA_, edgeAB_, edgeAC_;
    std::vector<Eigen::Vector3d> lower_, upper_;  // triangle bounds, during the build only
};

// Bit table of the triangles seen from each point: points x triangles, one row of 64-bit words per
// point, bit t % 64 of word t / 64 of row p set when point p sees triangle t.
struct PointVisibility {
    int pointCount = 0;
    int triangleCount = 0;
    int wordsPerPoint = 0;
    std::vector<std::uint64_t> bits;  // pointCount * wordsPerPoint words

    bool seen(int point, int triangle) const {
        return (bits[static_cast<size_t>(point) * wordsPerPoint + triangle / 64] >>
                (triangle % 64)) &
               1u;
    }
    const std::uint64_t* row(int point) const {
        return bits.data() + static_cast<size_t>(point) * wordsPerPoint;
    }
    // Number of triangles seen from `point`.
    int seenCount(int point) const;
};

// The visibility of every triangle of `mesh` from each of `points` (metres, in the air outside the
// solid), as defined at the top of this file. With `testOcclusion` false only the facing test is
// made (exact for a convex solid, and a cheap upper bound otherwise). Faces of the convex hull
// (the whole mesh behind their plane) skip the segment test: nothing can hide them from a point
// they face. Cost: one segment test per facing triangle and point, about half a microsecond each
// on the bell (a few seconds for 2,000 points and 8,000 triangles). Runs on
// `threadCount` threads over the points (0: all hardware threads). Preconditions: `mesh` has
// outward-oriented triangles of positive area; no point lies on the surface.
PointVisibility computeVisibility(const SurfaceMesh& mesh,
                                  const std::vector<Eigen::Vector3d>& points, int threadCount = 0,
                                  bool testOcclusion = true);

// The table in which every point sees every triangle (the radiation model without visibility).
PointVisibility allVisible(int pointCount, int triangleCount);
