// The visibility table against geometry known in closed form: the visible cap of a sphere, faces
// of a box and of an L-shaped solid hidden behind other faces, and the inside of the bell, which
// is seen only through its mouth.
#include "tools/bake/transfer/high_frequency/ray_visibility.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <tuple>

#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/surface/box_union.h"
#include "tools/bake/surface/solid_primitives.h"
#include "tools/bake/transfer/bem/bem_surface.h"
#include "tools/bake/transfer/high_frequency/radiation_metrics.h"

namespace {

Eigen::Vector3d centroid(const SurfaceMesh& mesh, int t) {
    return (mesh.positions[mesh.triangles[t][0]] + mesh.positions[mesh.triangles[t][1]] +
            mesh.positions[mesh.triangles[t][2]]) /
           3.0;
}

double area(const SurfaceMesh& mesh, int t) {
    const Eigen::Vector3d& a = mesh.positions[mesh.triangles[t][0]];
    return 0.5 * (mesh.positions[mesh.triangles[t][1]] - a)
                     .cross(mesh.positions[mesh.triangles[t][2]] - a)
                     .norm();
}

// From distance R of the centre of a sphere of radius a, the visible cap reaches the tangent
// cone, cos(theta) = a / R: its area is 2 pi a^2 (1 - a/R), a fraction (1 - a/R) / 2 of the whole.
TEST(RayVisibility, SphereShowsItsTangentConeCap) {
    const double a = 0.3;
    SurfaceMesh sphere;
    makeIcosphere(4, a, Eigen::Vector3d(0.1, -0.2, 0.05), &sphere.positions, &sphere.triangles);
    double total = 0;
    for (size_t t = 0; t < sphere.triangles.size(); ++t) total += area(sphere, t);
    for (double distance : {1.2 * a, 2 * a, 5 * a, 30 * a}) {
        const std::vector<Eigen::Vector3d> points =
            fibonacciSphere(7, distance, Eigen::Vector3d(0.1, -0.2, 0.05));
        const PointVisibility table = computeVisibility(sphere, points, 2);
        ASSERT_EQ(table.pointCount, 7);
        ASSERT_EQ(table.triangleCount, static_cast<int>(sphere.triangles.size()));
        for (int p = 0; p < table.pointCount; ++p) {
            double seen = 0;
            for (int t = 0; t < table.triangleCount; ++t)
                if (table.seen(p, t)) seen += area(sphere, t);
            // The rim is decided per triangle at its centroid: within about one row of triangles.
            EXPECT_NEAR(seen / total, (1 - a / distance) / 2, 0.008)
                << "R / a = " << distance / a << ", point " << p;
        }
    }
}

// Segments from the faces of a box that look away from a point pass through the box, and the
// hierarchy finds the face that stops them; the segments from the faces that look at it are free.
TEST(RayVisibility, BoxFacesBehindTheBoxAreBlocked) {
    const SurfaceMesh box =
        makeBox(Eigen::Vector3d(-0.2, -0.1, -0.3), Eigen::Vector3d(0.4, 0.5, 0.1));
    const TriangleBvh hierarchy(box.positions, box.triangles);
    const Eigen::Vector3d x(2.0, 1.5, -1.0);
    const std::vector<Eigen::Vector3d> points = {x};
    const PointVisibility table = computeVisibility(box, points, 1);
    int facing = 0;
    for (int t = 0; t < static_cast<int>(box.triangles.size()); ++t) {
        const Eigen::Vector3d& a = box.positions[box.triangles[t][0]];
        const Eigen::Vector3d n = (box.positions[box.triangles[t][1]] - a)
                                      .cross(box.positions[box.triangles[t][2]] - a)
                                      .normalized();
        const Eigen::Vector3d start = centroid(box, t) + 1e-6 * n;
        const bool faces = (x - centroid(box, t)).dot(n) > 0;
        facing += faces;
        EXPECT_EQ(hierarchy.segmentBlocked(start, x, t), !faces) << "triangle " << t;
        EXPECT_EQ(table.seen(0, t), faces) << "triangle " << t;
    }
    EXPECT_EQ(facing, 6);  // three faces of two triangles each

    // A segment through the box along x at (y, z) = (0.2, -0.1), from x = -1 to 1, meets the face
    // x = -0.2 first, at s = 0.8 / 2; from 1 to -1, the face x = 0.4 at s = 0.6 / 2.
    const Eigen::Vector3d west(-1.0, 0.2, -0.1), east(1.0, 0.2, -0.1);
    for (const auto& [from, to, faceX, expected] :
         {std::tuple{west, east, -0.2, 0.4}, {east, west, 0.4, 0.3}}) {
        double s = 0;
        const int t = hierarchy.firstCrossing(from, to, -1, &s);
        ASSERT_GE(t, 0);
        EXPECT_NEAR(centroid(box, t).x(), faceX, 1e-12);
        EXPECT_NEAR(s, expected, 1e-12);
        EXPECT_EQ(hierarchy.firstCrossing(from, from + 0.25 * (to - from), -1), -1);  // short
    }
}

// An L of two boxes, A = [0,2]x[0,1]x[0,1] and B = [0,1]x[1,2]x[0,1]. From x = (5, 0.5, 0.5) the
// face x = 1 of B faces x, but the segment from its point (1, y, z) reaches the plane x = 2 at
// height 0.75 y + 0.125, inside A when y < 7/6: that part is hidden behind A.
TEST(RayVisibility, LShapedSolidHidesTheInnerFaceBehindItsLeg) {
    BoxGridOptions grid;
    grid.maxSpacing = 0.1;
    const SurfaceMesh solid =
        makeBoxUnionSurface({{Eigen::Vector3d(0, 0, 0), Eigen::Vector3d(2, 1, 1)},
                             {Eigen::Vector3d(0, 1, 0), Eigen::Vector3d(1, 2, 1)}},
                            grid, "L-shaped solid");
    const std::vector<Eigen::Vector3d> points = {Eigen::Vector3d(5, 0.5, 0.5)};
    const PointVisibility table = computeVisibility(solid, points, 1);
    int hidden = 0, shown = 0;
    for (int t = 0; t < table.triangleCount; ++t) {
        const Eigen::Vector3d c = centroid(solid, t);
        if (std::abs(c.x() - 1) > 1e-9 || c.y() < 1) continue;  // the inner face of B only
        if (std::abs(c.y() - 7.0 / 6) < 0.05) continue;         // triangles across the boundary
        const bool expected = c.y() > 7.0 / 6;
        EXPECT_EQ(table.seen(0, t), expected) << "centroid " << c.transpose();
        (expected ? shown : hidden)++;
    }
    EXPECT_GT(hidden, 4);
    EXPECT_GT(shown, 4);
    // The faces of A's far end, x = 2, are in plain view.
    for (int t = 0; t < table.triangleCount; ++t)
        if (std::abs(centroid(solid, t).x() - 2) < 1e-9) {
            EXPECT_TRUE(table.seen(0, t));
        }
}

// The bell is open only through its mouth: a point above the lip plane sees none of the inner
// surface (any path to it stays above the lip and must cross the wall), and every inner triangle
// seen from below crosses the lip plane inside the mouth on its way.
TEST(RayVisibility, BellInsideIsSeenOnlyThroughItsMouth) {
    BellParameters parameters;
    parameters.profileSpacing = 0.03;
    parameters.ringSpacing = 0.05;
    const SurfaceMesh bell = makeBellSurface(parameters);
    const std::vector<Eigen::Vector2d> profile = bellProfile(parameters);
    // Inner surface: triangles whose corners lie on the profile past the inner lip corner (the
    // last profile point in the lip plane), at least one of them strictly past it.
    int innerStart = 0;
    for (int i = 0; i < static_cast<int>(profile.size()); ++i)
        if (std::abs(profile[i].y() - parameters.lipY) < 1e-12) innerStart = i;
    const double mouthRadius = profile[innerStart].x();
    auto profileIndex = [&](const Eigen::Vector3d& v) {
        const Eigen::Vector2d rz(std::hypot(v.x(), v.z()), v.y());
        int best = 0;
        for (int i = 1; i < static_cast<int>(profile.size()); ++i)
            if ((profile[i] - rz).norm() < (profile[best] - rz).norm()) best = i;
        return best;
    };
    std::vector<int> vertexIndex(bell.positions.size());
    for (size_t v = 0; v < bell.positions.size(); ++v)
        vertexIndex[v] = profileIndex(bell.positions[v]);
    std::vector<bool> inner(bell.triangles.size());
    int innerCount = 0;
    for (size_t t = 0; t < bell.triangles.size(); ++t) {
        const auto& c = bell.triangles[t];
        const int low = std::min({vertexIndex[c[0]], vertexIndex[c[1]], vertexIndex[c[2]]});
        const int high = std::max({vertexIndex[c[0]], vertexIndex[c[1]], vertexIndex[c[2]]});
        inner[t] = low >= innerStart && high > innerStart;
        innerCount += inner[t];
    }
    ASSERT_GT(innerCount, 100);

    const double lip = parameters.lipY;
    const std::vector<Eigen::Vector3d> points = {
        {0, lip + 2.0, 0}, {1.5, lip + 0.05, 0},  {-1.0, lip + 0.6, 1.0},    // above the lip plane
        {0, lip - 1.5, 0}, {0.8, lip - 0.8, 0.3}, {-2.0, lip - 0.4, -0.5}};  // below it
    const PointVisibility table = computeVisibility(bell, points, 2);
    for (int p = 0; p < 6; ++p) {
        const Eigen::Vector3d& x = points[p];
        int innerSeen = 0;
        for (int t = 0; t < table.triangleCount; ++t) {
            if (!table.seen(p, t) || !inner[t]) continue;
            ++innerSeen;
            const Eigen::Vector3d c = centroid(bell, t);
            ASSERT_LT(x.y(), lip) << "inner triangle " << t << " seen from above, point " << p;
            // Where the segment from c to x crosses y = lip: inside the mouth.
            const Eigen::Vector3d crossing = c + (x - c) * (c.y() - lip) / (c.y() - x.y());
            EXPECT_LT(std::hypot(crossing.x(), crossing.z()), mouthRadius)
                << "inner triangle " << t << " seen through the wall from point " << p;
        }
        EXPECT_GT(table.seenCount(p), 0);
        if (p == 3) {
            EXPECT_GT(innerSeen, innerCount / 4);  // below the mouth: the cavity shows
        }
        if (p == 5) {
            EXPECT_GT(innerSeen, 0);
        }
    }
    // Threads only split the points: the same table from one thread.
    EXPECT_EQ(computeVisibility(bell, points, 1).bits, table.bits);
}

}  // namespace
