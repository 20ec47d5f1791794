// Assembly of the tetrahedral mass matrix (see assemble_mass.h).
#include "tools/bake/assemble_mass.h"

#include "tools/bake/assemble_blocks.h"

Eigen::SparseMatrix<double> assembleMass(const TetMesh& mesh, const Material& material,
                                         MassKind kind) {
    return assembleBlocks(mesh, [&](int t, Eigen::Matrix<double, 12, 12>& element) {
        const double elementMass = material.density * tetVolume(mesh, t);
        element.setZero();
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b) {
                const double m = kind == MassKind::consistent
                                     ? elementMass * (a == b ? 2.0 : 1.0) / 20.0
                                     : elementMass / 16.0;
                for (int i = 0; i < 3; ++i) element(3 * a + i, 3 * b + i) = m;
            }
    });
}
