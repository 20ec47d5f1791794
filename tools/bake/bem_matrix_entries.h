// The entries of the Burton-Miller boundary element matrices of one surface at one wave number,
// computed one way for every solver: the element itself by integrateSelf, near pairs by their
// static part plus the smooth remainder (bem_near_field.h), and all other pairs by the fixed rule
// of bem_element_rows.h. The dense solver takes whole rows (vectorised); a compressed solver takes
// single entries, which agree with the rows' to rounding.
#pragma once

#include <Eigen/Core>

#include "tools/bake/bem_element_rows.h"
#include "tools/bake/bem_near_field.h"
#include "tools/bake/bem_quadrature.h"
#include "tools/bake/bem_surface.h"

class BemMatrixEntries {
  public:
    // `nearField` must be makeNearField of `surface` and outlive this object.
    BemMatrixEntries(const BemSurface& surface, const BemNearField& nearField, double waveNumber);

    // Row i: the integrals of every element j for collocation at element i's centroid.
    void row(int i, BemRow* out) const;
    // Entry (i, j) alone.
    BemIntegrals entry(int i, int j) const;

    const BemSurface& surface() const { return surface_; }
    double waveNumber() const { return k_; }

  private:
    const BemSurface& surface_;
    const BemNearField& nearField_;
    double k_;
    BemRulePoints rule_;
};
