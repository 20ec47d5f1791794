// Vectorised rows of element integrals (see bem_element_rows.h).
#include "tools/bake/transfer/bem/bem_element_rows.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "sound/vector_lanes.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/triangle_rules.h"

namespace {

constexpr int kLanes = 4;

int padded(int n) { return (n + kLanes - 1) / kLanes * kLanes; }

// Accumulators of one row, real and imaginary parts apart, padded to whole lanes.
struct RowSums {
    std::vector<double> sRe, sIm, dRe, dIm, aRe, aIm, hRe, hIm;
};

__attribute__((always_inline)) inline ModeLanes load(const double* p) {
    ModeLanes v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
__attribute__((always_inline)) inline void store(double* p, const ModeLanes& v) {
    __builtin_memcpy(p, &v, sizeof v);
}

// The kernels of bem_quadrature.cpp's addKernels, four source points at a time:
//   G' = dG/dr = -(1 + ikr) G / r,   G'' = (2 + 2ikr - k^2 r^2) G / r^2,
//   dr/dn_x = rv.n_x / r,            dr/dn_y = -rv.n_y / r,
//   d2G/(dn_x dn_y) = (G'' - G'/r) dr/dn_x dr/dn_y - G' (n_x.n_y) / r.
template <bool kFull>
__attribute__((always_inline)) inline void rowBody(const BemRulePoints& rule, const double x[3],
                                                   const double nx[3], double k, RowSums& sums) {
    const int n = rule.elementCount;
    const int stride = padded(n);
    for (int q = 0; q < rule.pointsPerElement; ++q) {
        const int base = q * stride;
        for (int j = 0; j < stride; j += kLanes) {
            const ModeLanes rx = x[0] - load(&rule.x[base + j]);
            const ModeLanes ry = x[1] - load(&rule.y[base + j]);
            const ModeLanes rz = x[2] - load(&rule.z[base + j]);
            const ModeLanes r2 = rx * rx + ry * ry + rz * rz;
            ModeLanes r;
            for (int l = 0; l < kLanes; ++l) r[l] = __builtin_sqrt(r2[l]);
            const ModeLanes invR = 1.0 / r;
            const ModeLanes kr = k * r;
            ModeLanes sine, cosine;
            sineCosineLanes(kr, &sine, &cosine);
            const ModeLanes g = invR * (1.0 / (4 * kPi));
            const ModeLanes w = load(&rule.weight[base + j]);
            const ModeLanes gRe = g * cosine, gIm = -(g * sine);
            const ModeLanes d1Re = -(gRe - kr * gIm) * invR;
            const ModeLanes d1Im = -(gIm + kr * gRe) * invR;
            const ModeLanes nyx = load(&rule.nx[j]), nyy = load(&rule.ny[j]),
                            nyz = load(&rule.nz[j]);
            const ModeLanes drdny = -(rx * nyx + ry * nyy + rz * nyz) * invR;
            store(&sums.sRe[j], load(&sums.sRe[j]) + w * gRe);
            store(&sums.sIm[j], load(&sums.sIm[j]) + w * gIm);
            const ModeLanes wd = w * drdny;
            store(&sums.dRe[j], load(&sums.dRe[j]) + wd * d1Re);
            store(&sums.dIm[j], load(&sums.dIm[j]) + wd * d1Im);
            if (!kFull) continue;
            const ModeLanes a = 2.0 - kr * kr, b = 2.0 * kr;
            const ModeLanes invR2 = invR * invR;
            const ModeLanes d2Re = (a * gRe - b * gIm) * invR2;
            const ModeLanes d2Im = (a * gIm + b * gRe) * invR2;
            const ModeLanes drdnx = (rx * nx[0] + ry * nx[1] + rz * nx[2]) * invR;
            const ModeLanes wa = w * drdnx;
            store(&sums.aRe[j], load(&sums.aRe[j]) + wa * d1Re);
            store(&sums.aIm[j], load(&sums.aIm[j]) + wa * d1Im);
            const ModeLanes radial = wa * drdny;
            const ModeLanes tangential = w * (nyx * nx[0] + nyy * nx[1] + nyz * nx[2]) * invR;
            store(&sums.hRe[j],
                  load(&sums.hRe[j]) + (d2Re - d1Re * invR) * radial - d1Re * tangential);
            store(&sums.hIm[j],
                  load(&sums.hIm[j]) + (d2Im - d1Im * invR) * radial - d1Im * tangential);
        }
    }
}

template <bool kFull>
__attribute__((target("avx2,fma"))) void rowAvx2(const BemRulePoints& rule, const double x[3],
                                                 const double nx[3], double k, RowSums& sums) {
    rowBody<kFull>(rule, x, nx, k, sums);
}

template <bool kFull>
void rowBaseline(const BemRulePoints& rule, const double x[3], const double nx[3], double k,
                 RowSums& sums) {
    rowBody<kFull>(rule, x, nx, k, sums);
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");

}  // namespace

BemRulePoints makeRulePoints(const BemSurface& surface, double waveNumber) {
    BemRulePoints rule;
    const int n = static_cast<int>(surface.elements.size());
    double largest = 0;
    for (const BemElement& e : surface.elements) largest = std::max(largest, e.diameter);
    const bool degree2 = waveNumber * largest <= kMaxPhaseForDegree2;
    rule.elementCount = n;
    rule.pointsPerElement = degree2 ? 3 : 7;
    const int stride = padded(n);
    const size_t size = static_cast<size_t>(stride) * rule.pointsPerElement;
    // Padding lanes: zero weight at a point 100 m away, so they add nothing and stay finite.
    rule.x.assign(size, 100.0);
    rule.y.assign(size, 100.0);
    rule.z.assign(size, 100.0);
    rule.weight.assign(size, 0.0);
    rule.nx.assign(stride, 0.0);
    rule.ny.assign(stride, 0.0);
    rule.nz.assign(stride, 0.0);
    for (int j = 0; j < n; ++j) {
        const BemElement& e = surface.elements[j];
        rule.nx[j] = e.normal.x();
        rule.ny[j] = e.normal.y();
        rule.nz[j] = e.normal.z();
        for (int q = 0; q < rule.pointsPerElement; ++q) {
            const TrianglePoint& p = degree2 ? kDegree2Rule[q] : kDegree5Rule[q];
            const Eigen::Vector3d y = p.a * e.corners[0] + p.b * e.corners[1] + p.c * e.corners[2];
            const size_t index = static_cast<size_t>(q) * stride + j;
            rule.x[index] = y.x();
            rule.y[index] = y.y();
            rule.z[index] = y.z();
            rule.weight[index] = p.weight * e.area;
        }
    }
    return rule;
}

std::vector<int> nearElementsOf(const BemSurface& surface, const Eigen::Vector3d& point) {
    std::vector<int> near;
    for (size_t j = 0; j < surface.elements.size(); ++j) {
        const BemElement& e = surface.elements[j];
        const double reach = kNearFieldReach * e.diameter;
        if ((point - e.centroid).squaredNorm() <= reach * reach)
            near.push_back(static_cast<int>(j));
    }
    return near;
}

std::vector<std::vector<int>> nearElementsOfCentroids(const BemSurface& surface) {
    // Elements sorted along x: a candidate j can be near i only if its centroid's x lies within
    // the largest reach of i's.
    const int n = static_cast<int>(surface.elements.size());
    double largestReach = 0;
    for (const BemElement& e : surface.elements)
        largestReach = std::max(largestReach, kNearFieldReach * e.diameter);
    std::vector<int> order(n);
    for (int j = 0; j < n; ++j) order[j] = j;
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return surface.elements[a].centroid.x() < surface.elements[b].centroid.x();
    });
    std::vector<double> sortedX(n);
    for (int j = 0; j < n; ++j) sortedX[j] = surface.elements[order[j]].centroid.x();
    std::vector<std::vector<int>> near(n);
    for (int i = 0; i < n; ++i) {
        const Eigen::Vector3d& x = surface.elements[i].centroid;
        const auto first = std::lower_bound(sortedX.begin(), sortedX.end(), x.x() - largestReach);
        const auto last = std::upper_bound(sortedX.begin(), sortedX.end(), x.x() + largestReach);
        for (auto it = first; it != last; ++it) {
            const int j = order[it - sortedX.begin()];
            if (j == i) continue;
            const BemElement& e = surface.elements[j];
            const double reach = kNearFieldReach * e.diameter;
            if ((x - e.centroid).squaredNorm() <= reach * reach) near[i].push_back(j);
        }
        std::sort(near[i].begin(), near[i].end());
    }
    return near;
}

void BemRow::resize(int n) {
    single.resize(n);
    doubleLayer.resize(n);
    adjointDoubleLayer.resize(n);
    hypersingular.resize(n);
}

void integrateRow(const BemRulePoints& rule, const Eigen::Vector3d& x, const Eigen::Vector3d& nx,
                  double waveNumber, BemRow* row) {
    const int n = rule.elementCount;
    const int stride = padded(n);
    const bool full = !nx.isZero();
    thread_local RowSums sums;
    for (std::vector<double>* v :
         {&sums.sRe, &sums.sIm, &sums.dRe, &sums.dIm, &sums.aRe, &sums.aIm, &sums.hRe, &sums.hIm})
        v->assign(stride, 0.0);
    const double point[3] = {x.x(), x.y(), x.z()};
    const double normal[3] = {nx.x(), nx.y(), nx.z()};
    if (kHasAvx2) {
        if (full)
            rowAvx2<true>(rule, point, normal, waveNumber, sums);
        else
            rowAvx2<false>(rule, point, normal, waveNumber, sums);
    } else {
        if (full)
            rowBaseline<true>(rule, point, normal, waveNumber, sums);
        else
            rowBaseline<false>(rule, point, normal, waveNumber, sums);
    }
    row->resize(n);
    for (int j = 0; j < n; ++j) {
        row->single[j] = {sums.sRe[j], sums.sIm[j]};
        row->doubleLayer[j] = {sums.dRe[j], sums.dIm[j]};
        row->adjointDoubleLayer[j] = {sums.aRe[j], sums.aIm[j]};
        row->hypersingular[j] = {sums.hRe[j], sums.hIm[j]};
    }
}
