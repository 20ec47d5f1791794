// The mass matrix of linear tetrahedra, the second matrix of the modal eigenproblem K u = lambda M
// u.
#pragma once

#include <Eigen/Sparse>

#include "tools/bake/material.h"
#include "tools/bake/tet_mesh.h"

enum class MassKind {
    // rho int N_a N_b dV = rho V (1 + delta_ab) / 20 per axis: the variationally consistent mass,
    // positive definite. This is the one the baker uses.
    consistent,
    // rho V N_a N_b at the centroid (N = 1/4) = rho V / 16 for every a, b: the one-point rule of
    // CalculiX's C3D4 element, used only to cross-check the stiffness against that program.
    onePoint,
};

// M (3n x 3n, both triangles stored, kg), degree of freedom 3i + k as in assembleStiffness; the
// element block coupling nodes a and b is the scalar above times the 3x3 identity.
Eigen::SparseMatrix<double> assembleMass(const TetMesh& mesh, const Material& material,
                                         MassKind kind = MassKind::consistent);
