// Static near-field integrals once per surface, smooth remainders per frequency (see
// bem_near_field.h).
#include "tools/bake/transfer/bem/bem_near_field.h"

#include <array>
#include <cmath>
#include <complex>

#include "tools/bake/common/parallel_for.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/bem_element_rows.h"
#include "tools/bake/transfer/bem/triangle_rules.h"

namespace {

using Complex = std::complex<double>;

}  // namespace

BemNearField makeNearField(const BemSurface& surface, int maxDepth, int threadCount) {
    const std::vector<std::vector<int>> near = nearElementsOfCentroids(surface);
    BemNearField field;
    field.rows.resize(near.size());
    parallelFor(static_cast<int>(near.size()), threadCount, [&](int i) {
        const BemElement& ei = surface.elements[i];
        std::vector<BemNearPair>& row = field.rows[i];
        row.reserve(near[i].size());
        for (int j : near[i]) {
            const BemIntegrals m =
                integrateOffElement(ei.centroid, ei.normal, surface.elements[j], 0.0, maxDepth);
            row.push_back({j, m.single.real(), m.doubleLayer.real(), m.adjointDoubleLayer.real(),
                           m.hypersingular.real()});
        }
    });
    return field;
}

BemIntegrals integrateNearPair(const BemNearPair& pair, const Eigen::Vector3d& x,
                               const Eigen::Vector3d& nx, const BemElement& element, double k) {
    // The remainders of G = e^{-ikr} / (4 pi r) and its r-derivatives over the static ones:
    //   dG   = (e^{-ikr} - 1) / (4 pi r)
    //   dG'  = -[(1 + ikr) e^{-ikr} - 1] / (4 pi r^2)
    //   dG'' = [(2 + 2ikr - k^2 r^2) e^{-ikr} - 2] / (4 pi r^3),
    // each bounded or (dG'/r) of order k^2 / r as r -> 0, and put together as in addKernels.
    // Below kr = 1e-3 the brackets cancel to rounding: their Taylor series instead.
    BemIntegrals sum{Complex(pair.single), Complex(pair.doubleLayer),
                     Complex(pair.adjointDoubleLayer), Complex(pair.hypersingular)};
    if (k == 0) return sum;
    const Eigen::Vector3d& a = element.corners[0];
    const Eigen::Vector3d& b = element.corners[1];
    const Eigen::Vector3d& c = element.corners[2];
    const Eigen::Vector3d& ny = element.normal;
    for (const TrianglePoint& p : kDegree5Rule) {
        const Eigen::Vector3d y = p.a * a + p.b * b + p.c * c;
        const double weight = p.weight * element.area;
        const Eigen::Vector3d rv = x - y;
        const double r = rv.norm();
        const double kr = k * r;
        const double inv4pi = 1.0 / (4 * kPi);
        Complex g, g1, g2;  // dG, dG', dG''
        if (kr < 1e-3) {
            // e^{-iz} = 1 - iz - z^2/2 + iz^3/6 + z^4/24 - ...; with z = kr:
            //   (e^{-iz} - 1) / z               = -i - z/2 + i z^2/6,
            //   (1 + iz) e^{-iz} - 1            = z^2/2 - i z^3/3 - z^4/8,
            //   (2 + 2iz - z^2) e^{-iz} - 2     = i z^3/3 + z^4/4.
            const double z = kr, z2 = z * z;
            g = k * inv4pi * Complex(-z / 2, -1 + z2 / 6);
            g1 = -inv4pi / (r * r) * Complex(z2 / 2 - z2 * z2 / 8, -z2 * z / 3);
            g2 = inv4pi / (r * r * r) * Complex(z2 * z2 / 4, z2 * z / 3);
        } else {
            const Complex phase(std::cos(kr), -std::sin(kr));
            g = (phase - 1.0) * inv4pi / r;
            g1 = -(Complex(1, kr) * phase - 1.0) * inv4pi / (r * r);
            g2 = (Complex(2 - kr * kr, 2 * kr) * phase - 2.0) * inv4pi / (r * r * r);
        }
        const double invR = 1 / r;
        const double drdnx = rv.dot(nx) * invR, drdny = -rv.dot(ny) * invR;
        sum.single += weight * g;
        sum.doubleLayer += weight * drdny * g1;
        sum.adjointDoubleLayer += weight * drdnx * g1;
        sum.hypersingular +=
            weight * ((g2 - g1 * invR) * (drdnx * drdny) - g1 * (nx.dot(ny) * invR));
    }
    return sum;
}
