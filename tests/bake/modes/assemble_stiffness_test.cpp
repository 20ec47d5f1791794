// The stiffness and mass matrices against what elasticity says they must be: rigid motions cost
// no energy (at any scale of the mesh), a uniform strain stores the closed-form energy, and the
// mass matrix holds the solid's mass and moments exactly.
#include "tools/bake/modes/assemble_stiffness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/modes/assemble_mass.h"
#include "tools/bake/modes/solve_modes.h"

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
    const Eigen::SparseMatrix<double> onePoint = assembleMass(mesh, kOak, MassKind::stiffnessRule);
    EXPECT_NEAR(translation.dot(consistent * translation) / (kOak.density * volume), 1.0, 1e-12);
    EXPECT_NEAR(translation.dot(onePoint * translation) / (kOak.density * volume), 1.0, 1e-12);
    EXPECT_NEAR(linear.dot(consistent * linear) / moment, 1.0, 1e-12);
    EXPECT_LT(linear.dot(onePoint * linear), moment);
}

TEST(AssembleQuadratic, QuadraticFieldsStoreClosedFormEnergyAndMoments) {
    // Quadratic tetrahedra (straight edges) represent any quadratic displacement exactly, and the
    // four-point rule integrates its (quadratic) strain energy exactly. u = (c x^2, 0, 0) has
    // eps_xx = 2 c x, so the energy is (lambda + 2 mu)/2 int (2 c x)^2 dV = 2 c^2 (lambda + 2 mu)
    // A (b^3 - a^3)/3 over the box [a, b] x A; the consistent mass gives rho c^2 A (b^5 - a^5)/5.
    const Eigen::Vector3d lower(-0.1, 0, 0), upper(0.2, 0.1, 0.05);
    const TetMesh mesh = addEdgeNodes(boxTets(lower, upper, 0.05, 1e-4));
    const double c = 1e-3, a = lower.x(), b = upper.x();
    const double area = (upper - lower).y() * (upper - lower).z();
    const Eigen::VectorXd u = fieldOf(
        mesh, [&](const Eigen::Vector3d& x) { return Eigen::Vector3d(c * x.x() * x.x(), 0, 0); });
    const double energy = 0.5 * u.dot(assembleStiffness(mesh, kOak) * u);
    const double expected = 2.0 * c * c * (lameLambda(kOak) + 2.0 * shearModulus(kOak)) * area *
                            (b * b * b - a * a * a) / 3.0;
    EXPECT_NEAR(energy / expected, 1.0, 1e-10);
    const double moment = kOak.density * c * c * area * (std::pow(b, 5) - std::pow(a, 5)) / 5.0;
    const Eigen::SparseMatrix<double> mass = assembleMass(mesh, kOak);
    EXPECT_NEAR(u.dot(mass * u) / moment, 1.0, 1e-10);
    // Every node's share: a translation still carries the mass, rigid motions still cost nothing.
    const Eigen::VectorXd translation =
        fieldOf(mesh, [](const Eigen::Vector3d&) { return Eigen::Vector3d(0, 0, 1); });
    EXPECT_NEAR(translation.dot(mass * translation) / (kOak.density * area * (b - a)), 1.0, 1e-12);
    const Eigen::SparseMatrix<double> K = assembleStiffness(mesh, kOak);
    const Eigen::MatrixXd rigid = rigidBodyMotions(mesh.nodes);
    for (int k = 0; k < 6; ++k)
        EXPECT_LT((K * rigid.col(k)).norm(),
                  1e-12 * (K * u).norm() / u.norm() * rigid.col(k).norm())
            << "rigid motion " << k;
}

TEST(AssembleQuadratic, EdgeNodesAreSharedMidpoints) {
    const TetMesh linear = boxTets({0, 0, 0}, {0.1, 0.1, 0.05}, 0.05, 1e-4);
    const TetMesh mesh = addEdgeNodes(linear);
    // Euler for a tetrahedral ball: V - E + F - T = 1, and F = (4T + boundary faces) / 2.
    std::set<std::pair<int, int>> edges;
    for (size_t t = 0; t < mesh.tets.size(); ++t)
        for (int e = 0; e < 6; ++e) {
            const int p = mesh.tets[t][kTetEdgeCorners[e][0]],
                      q = mesh.tets[t][kTetEdgeCorners[e][1]];
            edges.insert({std::min(p, q), std::max(p, q)});
            EXPECT_EQ(mesh.nodes[mesh.edgeNodes[t][e]], 0.5 * (mesh.nodes[p] + mesh.nodes[q]));
        }
    EXPECT_EQ(mesh.nodes.size(), linear.nodes.size() + edges.size());
    EXPECT_EQ(mesh.surfaceNodeCount, linear.surfaceNodeCount);
    for (size_t i = 0; i < linear.nodes.size(); ++i) EXPECT_EQ(mesh.nodes[i], linear.nodes[i]);
}

}  // namespace
