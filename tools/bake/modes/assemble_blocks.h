// The sparse pattern shared by the stiffness and mass matrices of a tetrahedral mesh, and the
// scatter of 3x3 node blocks into it. Assembling straight into the final pattern keeps memory at
// the size of the matrix (a list of triplets would be about ten times larger).
#pragma once

#include <Eigen/Core>
#include <Eigen/Sparse>
#include <algorithm>
#include <array>

#include "tools/bake/surface/tet_mesh.h"

// The nodes of tetrahedron t in element order: the four corners, then (quadratic meshes, N = 10)
// the six edge midpoints in the order of TetMesh::edgeNodes.
template <int N>
std::array<int, N> elementNodes(const TetMesh& mesh, int t) {
    static_assert(N == 4 || N == 10, "linear or quadratic tetrahedra");
    std::array<int, N> nodes;
    for (int a = 0; a < 4; ++a) nodes[a] = mesh.tets[t][a];
    if constexpr (N == 10)
        for (int e = 0; e < 6; ++e) nodes[4 + e] = mesh.edgeNodes[t][e];
    return nodes;
}

// Assembles the element matrices of every tetrahedron into the 3n x 3n matrix, degree of freedom
// 3i + k for axis k of node i. N is the number of nodes per element (4 for a linear mesh, 10 for a
// quadratic one). `ElementBlocks` is called once per tetrahedron as blocks(t, out) and fills
// out(3a + i, 3b + j) for the element's local nodes a, b (elementNodes order) and axes i, j.
template <int N, typename ElementBlocks>
Eigen::SparseMatrix<double> assembleBlocks(const TetMesh& mesh, ElementBlocks blocks);

// The pattern of the mesh's element couplings (every pair of nodes sharing a tetrahedron, corner
// and edge nodes alike), all values zero.
Eigen::SparseMatrix<double> sparsePatternOfNodes(const TetMesh& mesh);

template <int N, typename ElementBlocks>
Eigen::SparseMatrix<double> assembleBlocks(const TetMesh& mesh, ElementBlocks blocks) {
    Eigen::SparseMatrix<double> matrix = sparsePatternOfNodes(mesh);
    const int* outer = matrix.outerIndexPtr();
    const int* inner = matrix.innerIndexPtr();
    double* values = matrix.valuePtr();
    Eigen::Matrix<double, 3 * N, 3 * N> element;
    for (int t = 0; t < static_cast<int>(mesh.tets.size()); ++t) {
        blocks(t, element);
        const std::array<int, N> node = elementNodes<N>(mesh, t);
        for (int b = 0; b < N; ++b) {
            for (int j = 0; j < 3; ++j) {
                const int column = 3 * node[b] + j;
                const int* begin = inner + outer[column];
                const int* end = inner + outer[column + 1];
                for (int a = 0; a < N; ++a) {
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
