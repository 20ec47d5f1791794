// The acoustic solver's surface and the mode shapes carried over to it: a rigid translation comes
// out as d . n exactly, the two sides of a thin wall keep their own motion, close frequencies
// share a group, and the coarse copies of the scenes are closed and near the wanted size.
#include "tools/bake/transfer/acoustic_surface.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/surface/box_union.h"
#include "tools/bake/surface/chair_shape.h"
#include "tools/bake/transfer/transfer_plan.h"

namespace {

Eigen::Vector3d unitNormal(const SurfaceMesh& mesh, size_t t) {
    const auto& tri = mesh.triangles[t];
    const Eigen::Vector3d& a = mesh.positions[tri[0]];
    return (mesh.positions[tri[1]] - a).cross(mesh.positions[tri[2]] - a).normalized();
}

TEST(AcousticSurface, RigidTranslationGivesTheNormalComponentOnEveryElement) {
    const SurfaceMesh fine = makeIcosphere(3, 0.2);
    const SurfaceMesh coarse = makeIcosphere(1, 0.2);
    const Eigen::Vector3d d(0.3, -0.5, 0.8);
    Eigen::MatrixXd shapes(3 * fine.positions.size(), 2);
    for (size_t v = 0; v < fine.positions.size(); ++v) {
        shapes.block<3, 1>(3 * v, 0) = d;
        shapes.block<3, 1>(3 * v, 1) = Eigen::Vector3d::UnitZ();
    }
    const Eigen::MatrixXd velocity = interpolateNormalVelocity(fine, shapes, coarse);
    ASSERT_EQ(velocity.rows(), static_cast<Eigen::Index>(coarse.triangles.size()));
    ASSERT_EQ(velocity.cols(), 2);
    for (size_t e = 0; e < coarse.triangles.size(); ++e) {
        EXPECT_NEAR(velocity(e, 0), d.dot(unitNormal(coarse, e)), 1e-12) << e;
        EXPECT_NEAR(velocity(e, 1), unitNormal(coarse, e).z(), 1e-12) << e;
    }
}

TEST(AcousticSurface, TheTwoSidesOfAThinWallKeepTheirOwnMotion) {
    // A slab 2 mm thick breathing: its top moves up, its bottom down, so u . n = +1 on both
    // faces. The coarse slab sits 1.5 mm higher, so its bottom face is nearer the fine top face
    // (0.5 mm) than the fine bottom face (1.5 mm): only the facing rule finds the right side.
    const double thickness = 0.002;
    BoxGridOptions fineGrid{0.01, 1}, coarseGrid{0.03, 1};
    const SurfaceMesh fine =
        makeBoxUnionSurface({Box{{0, 0, 0}, {0.12, 0.09, thickness}}}, fineGrid, "fine slab");
    SurfaceMesh coarse =
        makeBoxUnionSurface({Box{{0, 0, 0}, {0.12, 0.09, thickness}}}, coarseGrid, "coarse slab");
    for (auto& p : coarse.positions) p.z() += 0.0015;
    Eigen::MatrixXd shapes = Eigen::MatrixXd::Zero(3 * fine.positions.size(), 1);
    for (size_t v = 0; v < fine.positions.size(); ++v)
        shapes(3 * v + 2, 0) = fine.positions[v].z() > 0.5 * thickness ? 1.0 : -1.0;
    const Eigen::MatrixXd velocity = interpolateNormalVelocity(fine, shapes, coarse);
    int faces = 0;
    for (size_t e = 0; e < coarse.triangles.size(); ++e) {
        const double nz = unitNormal(coarse, e).z();
        if (std::abs(nz) < 0.99) continue;  // the rims
        EXPECT_NEAR(velocity(e, 0), 1.0, 1e-12) << "element " << e << ", normal z " << nz;
        ++faces;
    }
    EXPECT_GT(faces, 20);
}

TEST(AcousticSurface, ElementTargetFollowsTheWavelength) {
    TransferSettings options;
    options.elementsPerWavelength = 6;
    options.minElements = 50;
    options.maxElements = 5000;
    // At 343 Hz the wavelength is 1 m: edges of 1/6 m, triangles of sqrt(3)/4 / 36 m^2.
    EXPECT_EQ(acousticElementTarget(1.0, 343.0, options),
              static_cast<int>(1.0 / (std::sqrt(3.0) / 4.0 / 36.0)));
    EXPECT_EQ(acousticElementTarget(1.0, 34.3, options), 50);       // clamped below
    EXPECT_EQ(acousticElementTarget(1.0, 34300.0, options), 5000);  // and above
}

TEST(AcousticSurface, CloseFrequenciesShareAGroup) {
    Eigen::VectorXd hz(7);
    hz << 100.0, 100.4, 101.0, 200.0, 200.9, 201.1, 500.0;
    const auto groups = groupCloseFrequencies(hz, 0.005);
    const std::vector<std::vector<int>> expected = {{0, 1}, {2}, {3, 4}, {5}, {6}};
    EXPECT_EQ(groups, expected);
    EXPECT_EQ(groupCloseFrequencies(hz, 0.0).size(), 7u);
}

TEST(AcousticSurface, CoarseCopiesOfTheScenesAreClosedAndNearTheTarget) {
    Recipe bell;
    bell.shape = ShapeKind::bell;
    bell.bell.profileSpacing = 0.01;
    bell.bell.ringSpacing = 0.02;
    Recipe chair;
    chair.shape = ShapeKind::chair;
    chair.chairGrid = {0.015, 2};
    for (const Recipe* recipe : {&bell, &chair}) {
        const SurfaceMesh fine =
            recipe == &bell ? makeBellSurface(recipe->bell)
                            : makeBoxUnionSurface(chairBoxes(), recipe->chairGrid, "chair");
        for (int target : {1500, 400}) {
            const SurfaceMesh coarse = makeAcousticSurface(*recipe, fine, target);
            EXPECT_EQ(closedManifoldProblem(coarse), "") << target;
            EXPECT_GT(enclosedVolume(coarse), 0.9 * enclosedVolume(fine)) << target;
            EXPECT_LT(enclosedVolume(coarse), 1.1 * enclosedVolume(fine)) << target;
            EXPECT_LT(coarse.triangles.size(), 1.2 * target) << target;
            EXPECT_GT(coarse.triangles.size(), 0.4 * target) << target;
        }
        // Finer than the surface (a reference solve's): the same facets bisected, so the same
        // closed solid with at least the triangles asked for.
        const int finer = static_cast<int>(fine.triangles.size() * 3 / 2);
        const SurfaceMesh refined = makeAcousticSurface(*recipe, fine, finer);
        EXPECT_EQ(closedManifoldProblem(refined), "");
        EXPECT_GE(static_cast<int>(refined.triangles.size()), finer);
        EXPECT_LT(refined.triangles.size(), finer + 4);
        EXPECT_NEAR(enclosedVolume(refined), enclosedVolume(fine), 1e-12 * enclosedVolume(fine));
        EXPECT_NEAR(surfaceArea(refined), surfaceArea(fine), 1e-12 * surfaceArea(fine));
    }
}

}  // namespace
