// Assembly of the tetrahedral stiffness matrix (see assemble_stiffness.h).
#include "tools/bake/modes/assemble_stiffness.h"

#include <Eigen/Dense>

#include "tools/bake/modes/assemble_blocks.h"

namespace {

constexpr double kRuleA = 0.5854101966249685;  // (5 + 3 sqrt 5) / 20
constexpr double kRuleB = 0.1381966011250105;  // (5 - sqrt 5) / 20

// Adds weight * (mu (g_a . g_b) I + mu g_b g_a^T + lambda g_a g_b^T) for every pair of nodes.
template <int N, typename Element>
void addGradientProducts(const Eigen::Matrix<double, 3, N>& g, double weight, double mu,
                         double lambda, Element& element) {
    for (int a = 0; a < N; ++a)
        for (int b = 0; b < N; ++b)
            element.template block<3, 3>(3 * a, 3 * b) +=
                weight *
                (mu * g.col(a).dot(g.col(b)) * Eigen::Matrix3d::Identity() +
                 mu * g.col(b) * g.col(a).transpose() + lambda * g.col(a) * g.col(b).transpose());
}

}  // namespace

const std::array<Eigen::Vector4d, 4> kTetFourPointRule = {
    Eigen::Vector4d(kRuleA, kRuleB, kRuleB, kRuleB),
    Eigen::Vector4d(kRuleB, kRuleA, kRuleB, kRuleB),
    Eigen::Vector4d(kRuleB, kRuleB, kRuleA, kRuleB),
    Eigen::Vector4d(kRuleB, kRuleB, kRuleB, kRuleA)};

Eigen::Matrix<double, 3, 4> shapeGradients(const TetMesh& mesh, int t) {
    const auto& k = mesh.tets[t];
    Eigen::Matrix3d edges;  // columns x1 - x0, x2 - x0, x3 - x0
    for (int c = 0; c < 3; ++c) edges.col(c) = mesh.nodes[k[c + 1]] - mesh.nodes[k[0]];
    // N_a(x) for a = 1..3 are the barycentric coordinates edges^{-1} (x - x0), so their gradients
    // are the rows of edges^{-1}; N_0 = 1 - N_1 - N_2 - N_3.
    const Eigen::Matrix3d inverse = edges.inverse();
    Eigen::Matrix<double, 3, 4> gradients;
    for (int a = 1; a < 4; ++a) gradients.col(a) = inverse.row(a - 1).transpose();
    gradients.col(0) = -(gradients.col(1) + gradients.col(2) + gradients.col(3));
    return gradients;
}

Eigen::Matrix<double, 10, 1> quadraticShapes(const Eigen::Vector4d& l) {
    Eigen::Matrix<double, 10, 1> n;
    for (int a = 0; a < 4; ++a) n(a) = l(a) * (2.0 * l(a) - 1.0);
    for (int e = 0; e < 6; ++e)
        n(4 + e) = 4.0 * l(kTetEdgeCorners[e][0]) * l(kTetEdgeCorners[e][1]);
    return n;
}

Eigen::Matrix<double, 3, 10> quadraticShapeGradients(const Eigen::Matrix<double, 3, 4>& corner,
                                                     const Eigen::Vector4d& l) {
    Eigen::Matrix<double, 3, 10> g;
    for (int a = 0; a < 4; ++a) g.col(a) = (4.0 * l(a) - 1.0) * corner.col(a);
    for (int e = 0; e < 6; ++e) {
        const int a = kTetEdgeCorners[e][0], b = kTetEdgeCorners[e][1];
        g.col(4 + e) = 4.0 * (l(a) * corner.col(b) + l(b) * corner.col(a));
    }
    return g;
}

Eigen::SparseMatrix<double> assembleStiffness(const TetMesh& mesh, const Material& material) {
    const double lambda = lameLambda(material);
    const double mu = shearModulus(material);
    if (!mesh.quadratic()) {
        return assembleBlocks<4>(mesh, [&](int t, Eigen::Matrix<double, 12, 12>& element) {
            element.setZero();
            addGradientProducts<4>(shapeGradients(mesh, t), tetVolume(mesh, t), mu, lambda,
                                   element);
        });
    }
    return assembleBlocks<10>(mesh, [&](int t, Eigen::Matrix<double, 30, 30>& element) {
        element.setZero();
        const Eigen::Matrix<double, 3, 4> corner = shapeGradients(mesh, t);
        const double weight = tetVolume(mesh, t) / 4.0;
        for (const Eigen::Vector4d& point : kTetFourPointRule)
            addGradientProducts<10>(quadraticShapeGradients(corner, point), weight, mu, lambda,
                                    element);
    });
}
