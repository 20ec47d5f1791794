// Assembly of the tetrahedral mass matrix (see assemble_mass.h).
#include "tools/bake/modes/assemble_mass.h"

#include "tools/bake/modes/assemble_blocks.h"
#include "tools/bake/modes/assemble_stiffness.h"

namespace {

// int N_a N_b dV / V for the ten quadratic shape functions (see assemble_mass.h).
Eigen::Matrix<double, 10, 10> quadraticConsistentMass() {
    auto hasCorner = [](int edge, int corner) {
        return kTetEdgeCorners[edge][0] == corner || kTetEdgeCorners[edge][1] == corner;
    };
    Eigen::Matrix<double, 10, 10> m;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) m(a, b) = a == b ? 6.0 : 1.0;
        for (int e = 0; e < 6; ++e) m(a, 4 + e) = m(4 + e, a) = hasCorner(e, a) ? -4.0 : -6.0;
    }
    for (int e = 0; e < 6; ++e)
        for (int f = 0; f < 6; ++f) {
            const bool shared =
                hasCorner(f, kTetEdgeCorners[e][0]) || hasCorner(f, kTetEdgeCorners[e][1]);
            m(4 + e, 4 + f) = e == f ? 32.0 : shared ? 16.0 : 8.0;
        }
    return m / 420.0;
}

Eigen::Matrix<double, 10, 10> quadraticFourPointMass() {
    Eigen::Matrix<double, 10, 10> m = Eigen::Matrix<double, 10, 10>::Zero();
    for (const Eigen::Vector4d& point : kTetFourPointRule) {
        const Eigen::Matrix<double, 10, 1> n = quadraticShapes(point);
        m += 0.25 * n * n.transpose();
    }
    return m;
}

// Scatters the scalar node coupling m(a, b) (times the element mass) onto every axis.
template <int N, typename Element>
void fillIsotropic(const Eigen::Matrix<double, N, N>& m, double elementMass, Element& element) {
    element.setZero();
    for (int a = 0; a < N; ++a)
        for (int b = 0; b < N; ++b)
            for (int i = 0; i < 3; ++i) element(3 * a + i, 3 * b + i) = elementMass * m(a, b);
}

}  // namespace

Eigen::SparseMatrix<double> assembleMass(const TetMesh& mesh, const Material& material,
                                         MassKind kind) {
    if (!mesh.quadratic()) {
        Eigen::Matrix4d m;
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b)
                m(a, b) = kind == MassKind::consistent ? (a == b ? 2.0 : 1.0) / 20.0 : 1.0 / 16.0;
        return assembleBlocks<4>(mesh, [&](int t, Eigen::Matrix<double, 12, 12>& element) {
            fillIsotropic<4>(m, material.density * tetVolume(mesh, t), element);
        });
    }
    const Eigen::Matrix<double, 10, 10> m =
        kind == MassKind::consistent ? quadraticConsistentMass() : quadraticFourPointMass();
    return assembleBlocks<10>(mesh, [&](int t, Eigen::Matrix<double, 30, 30>& element) {
        fillIsotropic<10>(m, material.density * tetVolume(mesh, t), element);
    });
}
