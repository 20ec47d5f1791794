// The stiffness and mass matrices against what elasticity says they must be: rigid motions cost
// no energy (at any scale of the mesh), a uniform strain stores the closed-form energy, and the
// mass matrix holds the solid's mass and moments exactly.
#include "tools/bake/assemble_stiffness.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/assemble_mass.h"
#include "tools/bake/solve_modes.h"

namespace {

const Material kOak{12e9, 0.3, 700.0};

Eigen::VectorXd fieldOf(const TetMesh& mesh,
                        const std::function<Eigen::Vector3d(const Eigen::Vector3d&)>& u) {
    Eigen::VectorXd values(3 * mesh.nodes.size());
    for (size_t i = 0; i < mesh.nodes.size(); ++i) values.segment<3>(3 * i) = u(mesh.nodes[i]);
    return values;
}

TEST(AssembleStiffness, RigidMotionsLieInStiffnessNullSpace) {
    const TetMesh base = boxTets({-0.1, -0.05, 0.0}, {0.2, 0.05, 0.04}, 0.02, 1e-5);
    for (double scale : {1.0, 1e8, 1e-8}) {
        TetMesh mesh = base;
        for (auto& x : mesh.nodes) x *= scale;
        const Eigen::SparseMatrix<double> K = assembleStiffness(mesh, kOak);
        const Eigen::MatrixXd rigid = rigidBodyMotions(mesh.nodes);
        // Compare with the force a unit stretch of the same size would need.
        const Eigen::VectorXd stretch = fieldOf(
            mesh, [&](const Eigen::Vector3d& x) { return Eigen::Vector3d(x.x(), 0.0, 0.0); });
        const double reference = (K * stretch).norm() / stretch.norm();
        for (int k = 0; k < 6; ++k)
            EXPECT_LT((K * rigid.col(k)).norm() / rigid.col(k).norm(), 1e-12 * reference)
                << "scale " << scale << ", rigid motion " << k;
        // Symmetric and positive on a non-rigid field.
        EXPECT_LT(
            Eigen::SparseMatrix<double>(K - Eigen::SparseMatrix<double>(K.transpose())).norm(),
            1e-12 * K.norm());
        EXPECT_GT(stretch.dot(K * stretch), 0.0);
    }
}

TEST(AssembleStiffness, UniformStrainStoresClosedFormEnergy) {
    // u = G x with a constant gradient G: every linear tetrahedron represents it exactly, so the
    // energy u^T K u / 2 equals V (mu eps:eps + lambda/2 tr(eps)^2), eps = (G + G^T) / 2.
    const Eigen::Vector3d lower(0, 0, 0), upper(0.3, 0.1, 0.05);
    const TetMesh mesh = boxTets(lower, upper, 0.025, 2e-5);
    Eigen::Matrix3d G;
    G << 1e-3, 2e-4, -5e-4, 3e-4, -2e-3, 1e-4, 7e-4, 0.0, 5e-4;
    const Eigen::Matrix3d eps = 0.5 * (G + G.transpose());
    const double volume = (upper - lower).prod();
    const double expected = volume * (shearModulus(kOak) * (eps.array() * eps.array()).sum() +
                                      0.5 * lameLambda(kOak) * eps.trace() * eps.trace());
    const Eigen::VectorXd u =
        fieldOf(mesh, [&](const Eigen::Vector3d& x) -> Eigen::Vector3d { return G * x; });
    const double energy = 0.5 * u.dot(assembleStiffness(mesh, kOak) * u);
    EXPECT_NEAR(energy / expected, 1.0, 1e-10);
}

TEST(AssembleMass, HoldsMassAndSecondMomentsExactly) {
    // The consistent mass integrates products of linear fields exactly: a translation gives the
    // mass rho V, the field u = (x, 0, 0) gives rho int x^2 dV = rho V (a^2 + ab + b^2) / 3 over
    // [a, b]. The one-point rule keeps the mass but not the moment.
    const Eigen::Vector3d lower(-0.1, 0, 0), upper(0.2, 0.1, 0.05);
    const TetMesh mesh = boxTets(lower, upper, 0.025, 2e-5);
    const double volume = (upper - lower).prod();
    const Eigen::VectorXd translation =
        fieldOf(mesh, [](const Eigen::Vector3d&) { return Eigen::Vector3d(0, 1, 0); });
    const Eigen::VectorXd linear =
        fieldOf(mesh, [](const Eigen::Vector3d& x) { return Eigen::Vector3d(x.x(), 0, 0); });
    const double a = lower.x(), b = upper.x();
    const double moment = kOak.density * volume * (a * a + a * b + b * b) / 3.0;
    const Eigen::SparseMatrix<double> consistent = assembleMass(mesh, kOak, MassKind::consistent);
    const Eigen::SparseMatrix<double> onePoint = assembleMass(mesh, kOak, MassKind::onePoint);
    EXPECT_NEAR(translation.dot(consistent * translation) / (kOak.density * volume), 1.0, 1e-12);
    EXPECT_NEAR(translation.dot(onePoint * translation) / (kOak.density * volume), 1.0, 1e-12);
    EXPECT_NEAR(linear.dot(consistent * linear) / moment, 1.0, 1e-12);
    EXPECT_LT(linear.dot(onePoint * linear), moment);
}

}  // namespace
