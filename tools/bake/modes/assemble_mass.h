// The mass matrix of linear or quadratic tetrahedra, the second matrix of the modal eigenproblem
// K u = lambda M u.
#pragma once

#include <Eigen/Sparse>

#include "tools/bake/modes/material.h"
#include "tools/bake/surface/tet_mesh.h"

enum class MassKind {
    // rho int N_a N_b dV, exactly: the variationally consistent mass, positive definite. Linear
    // tetrahedra: rho V (1 + delta_ab) / 20. Quadratic: rho V / 420 times 6 (same corner), 1 (two
    // corners), -4 (a corner and an edge through it), -6 (an edge not through it), 32 (same edge),
    // 16 (edges sharing a corner), 8 (opposite edges). This is the one the baker uses.
    consistent,
    // rho sum_q w_q N_a(x_q) N_b(x_q) with the stiffness's own rule: one point for linear
    // tetrahedra (rho V / 16 for every a, b), four for quadratic ones. That is what CalculiX's C3D4
    // and C3D10 elements use; it serves only to cross-check the stiffness against that program.
    stiffnessRule,
};

// M (3n x 3n, both triangles stored, kg), degree of freedom 3i + k as in assembleStiffness; the
// element block coupling nodes a and b is the scalar above times the 3x3 identity.
Eigen::SparseMatrix<double> assembleMass(const TetMesh& mesh, const Material& material,
                                         MassKind kind = MassKind::consistent);
