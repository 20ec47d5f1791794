// The sparse pattern shared by the stiffness and mass matrices of a tetrahedral mesh, and the
// scatter of 3x3 node blocks into it. Assembling straight into the final pattern keeps memory at
// the size of the matrix (a list of triplets would be about ten times larger).
#pragma once

#include <Eigen/Core>
#include <Eigen/Sparse>
#include <algorithm>

#include "tools/bake/tet_mesh.h"

// Assembles sum over tetrahedra of the 3x3 blocks elementBlock(t, a, b) (a, b = 0..3, the
// tetrahedron's local nodes) into the 3n x 3n matrix, degree of freedom 3i + k for axis k of
// node i. `ElementBlocks` is called once per tetrahedron as blocks(t, out) and fills
// out(3a + i, 3b + j) for the whole 12x12 element matrix.
template <typename ElementBlocks>
Eigen::SparseMatrix<double> assembleBlocks(const TetMesh& mesh, ElementBlocks blocks);

Eigen::SparseMatrix<double> sparsePatternOfNodes(const TetMesh& mesh);

template <typename ElementBlocks>
Eigen::SparseMatrix<double> assembleBlocks(const TetMesh& mesh, ElementBlocks blocks) {
    Eigen::SparseMatrix<double> matrix = sparsePatternOfNodes(mesh);
    const int* outer = matrix.outerIndexPtr();
    const int* inner = matrix.innerIndexPtr();
    double* values = matrix.valuePtr();
    Eigen::Matrix<double, 12, 12> element;
    for (int t = 0; t < static_cast<int>(mesh.tets.size()); ++t) {
        blocks(t, element);
        const auto& node = mesh.tets[t];
        for (int b = 0; b < 4; ++b) {
            for (int j = 0; j < 3; ++j) {
                const int column = 3 * node[b] + j;
                const int* begin = inner + outer[column];
                const int* end = inner + outer[column + 1];
                for (int a = 0; a < 4; ++a) {
                    // Rows of one node are consecutive in the column: find the first, add three.
                    const int* row = std::lower_bound(begin, end, 3 * node[a]);
                    double* target = values + (row - inner);
                    for (int i = 0; i < 3; ++i) target[i] += element(3 * a + i, 3 * b + j);
                }
            }
        }
    }
    return matrix;
}
