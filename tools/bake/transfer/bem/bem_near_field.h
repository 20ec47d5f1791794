// The near field of the boundary element matrices, split by frequency: the static (Laplace, k = 0)
// integrals of every pair of nearby elements, which carry all the singular behaviour and need the
// expensive adaptive subdivision, computed once per surface; and the frequency-dependent
// remainder G_k - G_0, which is smooth (bounded, with at most a 1/r term in its second
// derivative), integrated per frequency with a plain seven-point rule. A surface is solved at many
// frequencies (every mode group of a band shares one acoustic mesh), so this moves the costly part
// out of the loop over frequencies.
//
// Kernels and conventions as in bem_quadrature.h. The pair (i, j) is collocation at element i's
// centroid with its normal, integration over element j, for j near i (bem_element_rows.h) and
// j != i; the element itself is integrateSelf's.
#pragma once

#include <vector>

#include "tools/bake/transfer/bem/bem_quadrature.h"
#include "tools/bake/transfer/bem/bem_surface.h"

struct BemNearPair {
    int element = 0;                                                                // j
    double single = 0, doubleLayer = 0, adjointDoubleLayer = 0, hypersingular = 0;  // at k = 0
};

struct BemNearField {
    std::vector<std::vector<BemNearPair>> rows;  // per collocation element i
};

// The static integrals of every near pair of `surface`, with integrateOffElement's subdivision to
// `maxDepth` levels. Uses `threadCount` threads (0: all hardware threads).
BemNearField makeNearField(const BemSurface& surface, int maxDepth, int threadCount);

// The four integrals of the near pair at wave number k: the stored static part plus the
// remainder by the seven-point rule. `x`, `nx`: element i's centroid and normal.
BemIntegrals integrateNearPair(const BemNearPair& pair, const Eigen::Vector3d& x,
                               const Eigen::Vector3d& nx, const BemElement& element,
                               double waveNumber);
