// The procedural shapes and the TetGen step: closed manifolds by construction, the bell's
// proportions and placement, the box union's refusal of edge-only contacts, and the surface
// numbering that must survive tetrahedralisation.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/output/bell_fixtures.h"
#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/surface/box_union.h"
#include "tools/bake/surface/chair_shape.h"
#include "tools/bake/surface/solid_primitives.h"
#include "tools/bake/surface/tet_mesh.h"

namespace {

TEST(BellShape, IsClosedManifoldWithUnitNormalsPointingOut) {
    BellParameters p;
    p.profileSpacing = 0.02;
    p.ringSpacing = 0.05;
    const SurfaceMesh bell = makeBellSurface(p);
    EXPECT_EQ(closedManifoldProblem(bell), "");
    ASSERT_EQ(bell.normalIndices.size(), bell.triangles.size());
    // Every corner normal is a unit vector on the outer side of its triangle.
    for (size_t t = 0; t < bell.triangles.size(); ++t) {
        const auto& v = bell.triangles[t];
        const Eigen::Vector3d facet = (bell.positions[v[1]] - bell.positions[v[0]])
                                          .cross(bell.positions[v[2]] - bell.positions[v[0]])
                                          .normalized();
        for (int c = 0; c < 3; ++c) {
            const Eigen::Vector3d& n = bell.normals[bell.normalIndices[t][c]];
            EXPECT_NEAR(n.norm(), 1.0, 1e-9);
            EXPECT_GT(n.dot(facet), 0.3) << "triangle " << t << " corner " << c;
        }
    }
}

TEST(BellShape, HasBellProportionsAndHangsBelowThePivot) {
    BellParameters p;
    p.profileSpacing = 0.01;
    p.ringSpacing = 0.03;
    const SurfaceMesh bell = makeBellSurface(p);
    Eigen::Vector3d lower, upper;
    boundingBox(bell, lower, upper);
    EXPECT_NEAR(upper.y() - lower.y(), p.height, 1e-3);
    EXPECT_NEAR(lower.y(), p.lipY, 1e-9);
    EXPECT_NEAR(upper.x(), 0.5 * p.lipDiameter, 1e-9);
    EXPECT_LT(upper.y(), kPivotY);
    EXPECT_GT(lower.y(), kFloorY);
    // Thick sound bow, thin waist: horizontal wall thickness near the lip and at mid-height.
    const auto profile = bellProfile(p);
    auto wallAt = [&](double y) {
        double outer = 0.0, inner = 1e9;
        for (size_t i = 0; i + 1 < profile.size(); ++i) {
            const auto &a = profile[i], &b = profile[i + 1];
            if ((a.y() - y) * (b.y() - y) > 0.0 || a.y() == b.y()) continue;
            const double r = a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y());
            outer = std::max(outer, r);
            inner = std::min(inner, r);
        }
        return outer - inner;
    };
    const double bow = wallAt(p.lipY + 0.03), waist = wallAt(p.lipY + 0.55 * p.height);
    EXPECT_GT(bow, 2.0 * waist);
    EXPECT_NEAR(waist, p.lipDiameter / 35.0, 0.006);
    // A bronze bell of this size weighs 150-250 kg.
    const double mass = 8600.0 * enclosedVolume(bell);
    EXPECT_GT(mass, 150.0);
    EXPECT_LT(mass, 250.0);
}

TEST(BellFixtures, SupportsStandOnTheFloorClearOfTheSwing) {
    const double bellRadius = 0.33, crownTop = 0.25;
    const auto fixtures = makeBellFixtures(bellRadius, crownTop);
    ASSERT_EQ(fixtures.size(), 3u);
    EXPECT_EQ(fixtures[0].name, "yoke-wood");
    EXPECT_EQ(fixtures[1].name, "yoke-metal");
    EXPECT_EQ(fixtures[2].name, "supports");
    // Everything that swings stays within |x| < inner face of the supports for any angle: the
    // swinging parts are the bell (|x| <= bellRadius) and the yokes.
    double swingingHalfWidth = bellRadius;
    for (int f = 0; f < 2; ++f)
        for (const auto& p : fixtures[f].part.mesh.positions)
            if (std::abs(p.y() - kPivotY) > 0.03 || std::abs(p.z()) > 0.03)  // not the gudgeon pins
                swingingHalfWidth = std::max(swingingHalfWidth, std::abs(p.x()));
    Eigen::Vector3d lower, upper;
    boundingBox(fixtures[2].part.mesh, lower, upper);
    EXPECT_DOUBLE_EQ(lower.y(), kFloorY);
    double supportInner = 1e9;
    for (const auto& p : fixtures[2].part.mesh.positions)
        supportInner = std::min(supportInner, std::abs(p.x()));
    EXPECT_GT(supportInner, swingingHalfWidth + 0.02);
    for (const auto& f : fixtures) EXPECT_GT(enclosedVolume(f.part.mesh), 0.0) << f.name;
}

TEST(BoxUnion, ChairIsClosedManifoldThreeQuartersOfAMetreTallAroundTheCameraFocus) {
    const SurfaceMesh chair = makeBoxUnionSurface(chairBoxes(), {0.03, 2}, "chair");
    EXPECT_EQ(closedManifoldProblem(chair), "");
    Eigen::Vector3d lower, upper;
    boundingBox(chair, lower, upper);
    EXPECT_NEAR(upper.y() - lower.y(), 0.75, 1e-9);
    // Centred on the start camera's focus (0, -0.05, 0) across and front to back, 4 cm above it.
    EXPECT_NEAR(0.5 * (upper.x() + lower.x()), 0.0, 1e-9);
    EXPECT_NEAR(0.5 * (upper.z() + lower.z()), 0.0, 1e-9);
    EXPECT_NEAR(0.5 * (upper.y() + lower.y()), -0.01, 1e-9);
}

TEST(BoxUnion, VolumeIsThatOfTheUnion) {
    // Two overlapping boxes: V = V1 + V2 - overlap.
    const std::vector<Box> boxes = {{{0, 0, 0}, {0.2, 0.1, 0.1}}, {{0.1, 0, 0}, {0.3, 0.1, 0.2}}};
    const SurfaceMesh mesh = makeBoxUnionSurface(boxes, {0.02, 2}, "two boxes");
    EXPECT_NEAR(enclosedVolume(mesh), 0.002 + 0.004 - 0.001, 1e-12);
}

TEST(BoxUnion, BoxesTouchingOnlyAlongAnEdgeAreRefused) {
    const std::vector<Box> boxes = {{{0, 0, 0}, {0.1, 0.1, 0.1}}, {{0.1, 0.1, 0}, {0.2, 0.2, 0.1}}};
    EXPECT_THROW(makeBoxUnionSurface(boxes, {0.05, 1}, "edge contact"), BakeError);
}

TEST(ClosedManifold, OpenAndInsideOutSurfacesAreNamed) {
    SurfaceMesh box = makeBox({0, 0, 0}, {1, 1, 1});
    EXPECT_EQ(closedManifoldProblem(box), "");
    SurfaceMesh open = box;
    open.triangles.pop_back();
    EXPECT_NE(closedManifoldProblem(open).find("open"), std::string::npos);
    SurfaceMesh insideOut = box;
    flipOrientation(insideOut);
    EXPECT_NE(closedManifoldProblem(insideOut).find("inside out"), std::string::npos);
    SurfaceMesh twoCubesAtACorner = box;
    appendMesh(twoCubesAtACorner, makeBox({1, 1, 1}, {2, 2, 2}));
    // Separate components are fine; merging the shared corner makes a non-manifold vertex.
    EXPECT_EQ(closedManifoldProblem(twoCubesAtACorner), "");
    // The second cube's corner (1, 1, 1) is its vertex 0 (index 8): point it at the first cube's
    // (index 7) and move the last vertex into the freed slot.
    ASSERT_EQ(twoCubesAtACorner.positions[7], Eigen::Vector3d(1, 1, 1));
    ASSERT_EQ(twoCubesAtACorner.positions[8], Eigen::Vector3d(1, 1, 1));
    for (auto& tri : twoCubesAtACorner.triangles)
        for (int& v : tri) v = v == 8 ? 7 : v == 15 ? 8 : v;
    twoCubesAtACorner.positions[8] = twoCubesAtACorner.positions[15];
    twoCubesAtACorner.positions.pop_back();
    EXPECT_NE(closedManifoldProblem(twoCubesAtACorner).find("not manifold"), std::string::npos);
}

TEST(Tetrahedralize, KeepsSurfaceVerticesFirstAndInOrder) {
    const SurfaceMesh sphere = makeIcosphere(2, 0.1);
    const TetMesh mesh = tetrahedralize(sphere, {1e-5, 1.4}, "sphere");
    ASSERT_EQ(mesh.surfaceNodeCount, static_cast<int>(sphere.positions.size()));
    EXPECT_GT(mesh.nodes.size(), sphere.positions.size()) << "expected interior nodes";
    for (size_t i = 0; i < sphere.positions.size(); ++i)
        EXPECT_EQ(mesh.nodes[i], sphere.positions[i]);
    // The tetrahedra fill exactly the enclosed volume, all positively oriented.
    double volume = 0.0;
    for (int t = 0; t < static_cast<int>(mesh.tets.size()); ++t) {
        EXPECT_GT(tetVolume(mesh, t), 0.0);
        volume += tetVolume(mesh, t);
    }
    EXPECT_NEAR(volume / enclosedVolume(sphere), 1.0, 1e-9);
}

TEST(Tetrahedralize, SelfIntersectingSurfaceIsReportedWithItsName) {
    // Two overlapping closed spheres in one surface: their triangles intersect.
    SurfaceMesh overlapping = makeIcosphere(1, 0.1, {0, 0, 0});
    appendMesh(overlapping, makeIcosphere(1, 0.1, {0.05, 0.01, 0.02}));
    try {
        tetrahedralize(overlapping, {1e-5, 1.4}, "overlap.obj");
        FAIL() << "expected the intersection to be reported";
    } catch (const BakeError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("overlap.obj: the surface intersects itself", 0), 0u)
            << e.what();
    }
}

}  // namespace
