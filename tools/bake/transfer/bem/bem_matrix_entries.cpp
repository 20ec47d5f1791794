// Entries of the boundary element matrices (see bem_matrix_entries.h).
#include "tools/bake/transfer/bem/bem_matrix_entries.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "tools/bake/common/physical_constants.h"

namespace {

using Complex = std::complex<double>;

}  // namespace

BemMatrixEntries::BemMatrixEntries(const BemSurface& surface, const BemNearField& nearField,
                                   double waveNumber)
    : surface_(surface),
      nearField_(nearField),
      k_(waveNumber),
      rule_(makeRulePoints(surface, waveNumber)) {}

void BemMatrixEntries::row(int i, BemRow* out) const {
    const BemElement& ei = surface_.elements[i];
    integrateRow(rule_, ei.centroid, ei.normal, k_, out);
    for (const BemNearPair& pair : nearField_.rows[i]) {
        const BemIntegrals m =
            integrateNearPair(pair, ei.centroid, ei.normal, surface_.elements[pair.element], k_);
        out->single[pair.element] = m.single;
        out->doubleLayer[pair.element] = m.doubleLayer;
        out->adjointDoubleLayer[pair.element] = m.adjointDoubleLayer;
        out->hypersingular[pair.element] = m.hypersingular;
    }
    const BemIntegrals self = integrateSelf(ei, k_);
    out->single[i] = self.single;
    out->doubleLayer[i] = self.doubleLayer;
    out->adjointDoubleLayer[i] = self.adjointDoubleLayer;
    out->hypersingular[i] = self.hypersingular;
}

BemIntegrals BemMatrixEntries::entry(int i, int j) const {
    const BemElement& ei = surface_.elements[i];
    if (i == j) return integrateSelf(ei, k_);
    const std::vector<BemNearPair>& near = nearField_.rows[i];
    const auto found = std::lower_bound(
        near.begin(), near.end(), j,
        [](const BemNearPair& pair, int element) { return pair.element < element; });
    if (found != near.end() && found->element == j)
        return integrateNearPair(*found, ei.centroid, ei.normal, surface_.elements[j], k_);
    // The fixed rule, point for point as integrateRow evaluates it (bem_element_rows.cpp).
    const int stride = (rule_.elementCount + 3) / 4 * 4;
    const Eigen::Vector3d& x = ei.centroid;
    const Eigen::Vector3d& nx = ei.normal;
    const Eigen::Vector3d ny(rule_.nx[j], rule_.ny[j], rule_.nz[j]);
    BemIntegrals sum{};
    for (int q = 0; q < rule_.pointsPerElement; ++q) {
        const size_t index = static_cast<size_t>(q) * stride + j;
        const Eigen::Vector3d rv =
            x - Eigen::Vector3d(rule_.x[index], rule_.y[index], rule_.z[index]);
        const double w = rule_.weight[index];
        const double r = rv.norm(), invR = 1 / r, kr = k_ * r;
        const double g = invR / (4 * kPi);
        const Complex gk(g * std::cos(kr), -g * std::sin(kr));
        const Complex d1 = -Complex(1, kr) * gk * invR;                      // G'
        const Complex d2 = Complex(2 - kr * kr, 2 * kr) * gk * invR * invR;  // G''
        const double drdnx = rv.dot(nx) * invR, drdny = -rv.dot(ny) * invR;
        sum.single += w * gk;
        sum.doubleLayer += w * drdny * d1;
        sum.adjointDoubleLayer += w * drdnx * d1;
        sum.hypersingular += w * ((d2 - d1 * invR) * (drdnx * drdny) - d1 * (nx.dot(ny) * invR));
    }
    return sum;
}

BurtonMillerEntry BemMatrixEntries::burtonMiller(int i, int j, Complex alpha) const {
    const BemIntegrals m = entry(i, j);
    const double half = i == j ? 0.5 : 0.0;
    return {half - m.doubleLayer + alpha * m.hypersingular,
            -m.single + alpha * (half + m.adjointDoubleLayer)};
}
