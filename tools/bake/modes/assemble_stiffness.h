// The stiffness matrix of linear elasticity on linear or quadratic tetrahedra: the first numerical
// step of the modal analysis. Free boundary: no node is constrained, so K has the six rigid-body
// motions in its null space and is positive semi-definite.
#pragma once

#include <Eigen/Sparse>
#include <array>

#include "tools/bake/modes/material.h"
#include "tools/bake/surface/tet_mesh.h"

// K (3n x 3n, n = mesh.nodes.size(), both triangles stored), with degree of freedom 3i + k the
// displacement of node i along axis k. For shape-function gradients g_a, g_b the 3x3 block
// coupling nodes a and b is the integral over the element of
//   mu (g_a . g_b) I + mu g_b g_a^T + lambda g_a g_b^T,
// the second variation of the strain energy int (mu eps:eps + lambda/2 tr(eps)^2) dV. Linear
// tetrahedra have constant gradients (the integral is V times the integrand); quadratic ones have
// linear gradients, integrated exactly by the four-point rule. Units N/m.
Eigen::SparseMatrix<double> assembleStiffness(const TetMesh& mesh, const Material& material);

// Gradients of the corner (barycentric) shape functions of tetrahedron t (1/m): column a is
// grad L_a, a = 0..3, constant over the element.
Eigen::Matrix<double, 3, 4> shapeGradients(const TetMesh& mesh, int t);

// The four-point rule on a tetrahedron, exact for polynomials of degree 2: barycentric points
// (a, b, b, b) and its permutations, each with weight V / 4.
extern const std::array<Eigen::Vector4d, 4> kTetFourPointRule;

// Quadratic shape functions of the ten nodes at barycentric point `l` (corners, then the edges in
// the order of TetMesh::edgeNodes): L_a (2 L_a - 1) at corner a, 4 L_a L_b on edge ab.
Eigen::Matrix<double, 10, 1> quadraticShapes(const Eigen::Vector4d& l);
// Their gradients at `l` given the corner gradients: (4 L_a - 1) grad L_a and
// 4 (L_a grad L_b + L_b grad L_a).
Eigen::Matrix<double, 3, 10> quadraticShapeGradients(const Eigen::Matrix<double, 3, 4>& corner,
                                                     const Eigen::Vector4d& l);
