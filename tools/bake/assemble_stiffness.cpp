// Assembly of the linear tetrahedral stiffness matrix (see assemble_stiffness.h).
#include "tools/bake/assemble_stiffness.h"

#include <Eigen/Dense>

#include "tools/bake/assemble_blocks.h"

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

Eigen::SparseMatrix<double> assembleStiffness(const TetMesh& mesh, const Material& material) {
    const double lambda = lameLambda(material);
    const double mu = shearModulus(material);
    return assembleBlocks(mesh, [&](int t, Eigen::Matrix<double, 12, 12>& element) {
        const double volume = tetVolume(mesh, t);
        const Eigen::Matrix<double, 3, 4> g = shapeGradients(mesh, t);
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b)
                element.block<3, 3>(3 * a, 3 * b) =
                    volume * (mu * g.col(a).dot(g.col(b)) * Eigen::Matrix3d::Identity() +
                              mu * g.col(b) * g.col(a).transpose() +
                              lambda * g.col(a) * g.col(b).transpose());
    });
}
