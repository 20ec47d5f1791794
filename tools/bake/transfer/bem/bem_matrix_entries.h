// The entries of the Burton-Miller boundary element matrices of one surface at one wave number,
// computed one way for every solver: the element itself by integrateSelf, near pairs by their
// static part plus the smooth remainder (bem_near_field.h), and all other pairs by the fixed rule
// of bem_element_rows.h. The dense solver takes whole rows (vectorised); a compressed solver takes
// single entries, which agree with the rows' to rounding.
#pragma once

#include <Eigen/Core>
#include <complex>

#include "tools/bake/transfer/bem/bem_element_rows.h"
#include "tools/bake/transfer/bem/bem_near_field.h"
#include "tools/bake/transfer/bem/bem_quadrature.h"
#include "tools/bake/transfer/bem/bem_surface.h"

// Entry (i, j) of the two Burton-Miller matrices, collocation at centroid i, element j:
//   system         A_ij = 1/2 delta_ij - D_ij + alpha H_ij,
//   rightHandSide  B_ij = -S_ij + alpha (1/2 delta_ij + D'_ij),
// so that A p = B q.
struct BurtonMillerEntry {
    std::complex<double> system, rightHandSide;
};

class BemMatrixEntries {
  public:
    // `nearField` must be makeNearField of `surface` and outlive this object.
    BemMatrixEntries(const BemSurface& surface, const BemNearField& nearField, double waveNumber);

    // Row i: the integrals of every element j for collocation at element i's centroid.
    void row(int i, BemRow* out) const;
    // Entry (i, j) alone.
    BemIntegrals entry(int i, int j) const;
    // Entry (i, j) of the Burton-Miller matrices with coupling alpha (bem_solve.h's
    // burtonMillerCoupling). Pure: safe on any thread.
    BurtonMillerEntry burtonMiller(int i, int j, std::complex<double> alpha) const;

    const BemSurface& surface() const { return surface_; }
    double waveNumber() const { return k_; }

  private:
    const BemSurface& surface_;
    const BemNearField& nearField_;
    double k_;
    BemRulePoints rule_;
};
