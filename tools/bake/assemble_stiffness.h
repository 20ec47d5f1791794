// The stiffness matrix of linear elasticity on linear tetrahedra: the first numerical step of the
// modal analysis. Free boundary: no node is constrained, so K has the six rigid-body motions in
// its null space and is positive semi-definite.
#pragma once

#include <Eigen/Sparse>

#include "tools/bake/material.h"
#include "tools/bake/tet_mesh.h"

// K (3n x 3n, n = mesh.nodes.size(), both triangles stored), with degree of freedom 3i + k the
// displacement of node i along axis k. For a tetrahedron of volume V and shape-function gradients
// g_a (constant over the element), the 3x3 block coupling nodes a and b is
//   K_ab = V [ mu (g_a . g_b) I + mu g_b g_a^T + lambda g_a g_b^T ],
// the second variation of the strain energy V (mu eps:eps + lambda/2 tr(eps)^2). Units N/m.
Eigen::SparseMatrix<double> assembleStiffness(const TetMesh& mesh, const Material& material);

// Shape-function gradients of tetrahedron t (1/m): column a is grad N_a, a = 0..3.
Eigen::Matrix<double, 3, 4> shapeGradients(const TetMesh& mesh, int t);
