// The node-block sparsity pattern of a tetrahedral mesh (see assemble_blocks.h).
#include "tools/bake/modes/assemble_blocks.h"

#include <algorithm>
#include <vector>

namespace {

// Every node of an element is coupled to every node of it, itself included.
template <size_t N>
void addElementCouplings(const std::array<int, N>& nodes,
                         std::vector<std::vector<int>>& neighbours) {
    for (int a : nodes) neighbours[a].insert(neighbours[a].end(), nodes.begin(), nodes.end());
}

}  // namespace

Eigen::SparseMatrix<double> sparsePatternOfNodes(const TetMesh& mesh) {
    const int n = static_cast<int>(mesh.nodes.size());
    std::vector<std::vector<int>> neighbours(n);
    for (int t = 0; t < static_cast<int>(mesh.tets.size()); ++t) {
        if (mesh.quadratic())
            addElementCouplings(elementNodes<10>(mesh, t), neighbours);
        else
            addElementCouplings(elementNodes<4>(mesh, t), neighbours);
    }
    Eigen::SparseMatrix<double> matrix(3 * n, 3 * n);
    std::vector<int> perColumn(3 * n);
    for (int i = 0; i < n; ++i) {
        auto& list = neighbours[i];
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        for (int k = 0; k < 3; ++k) perColumn[3 * i + k] = 3 * static_cast<int>(list.size());
    }
    matrix.reserve(perColumn);
    // Column 3i + k holds the rows of every neighbour of node i (the pattern is symmetric).
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            for (int neighbour : neighbours[i])
                for (int r = 0; r < 3; ++r) matrix.insert(3 * neighbour + r, 3 * i + k) = 0.0;
    matrix.makeCompressed();
    return matrix;
}
