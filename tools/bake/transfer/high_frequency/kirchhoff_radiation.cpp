// The Kirchhoff-Helmholtz radiation of a surface velocity field (see kirchhoff_radiation.h).
//
// Layout: every element is cut into pieces and each piece becomes one quadrature node, stored as
// structure of arrays (position, normal, surface impedance, taper scale, weighted normal velocity
// per field), the nodes of an element contiguous. For each point the visible elements come in runs
// of consecutive triangles, each run a contiguous range of nodes; the kernel over a range is a
// branch-free loop in blocks of kLanes nodes that the compiler vectorises.
#include "tools/bake/transfer/high_frequency/kirchhoff_radiation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "tools/bake/common/parallel_for.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/bem_solve.h"
#include "tools/bake/transfer/bem/bem_surface.h"

namespace {

using Complex = std::complex<double>;
constexpr int kLanes = 8;          // nodes per vector block
constexpr int kBlockNodes = 1024;  // nodes per kernel call, a multiple of kLanes
// Elements count as curved (tapered) when |H| times the object's bounding box diagonal exceeds
// this; flat faces (H = 0, see bem_surface.h) get a hard edge: a scale so large that the taper
// weight is 1 wherever cos(psi) > 1e-6 (no larger: the clamp min(q, 1) = (q + 1 - |q - 1|) / 2
// must not lose the 1 to rounding).
constexpr double kCurvedSurface = 0.1;
constexpr double kHardEdge = 1e6;

// [SECTION] sine and cosine

// Range reduction x = n pi/2 + y, |y| <= pi/4, with pi/2 split in two (Cody-Waite) so that n hi
// is exact for n < 2^20; n is rounded by adding 1.5 * 2^52, which leaves n in the low bits of the
// sum. Taylor polynomials of sin to y^9 and cos to y^10: errors below 2e-9 on |y| <= pi/4.
// Quadrant n mod 4: sin x = (sin y, cos y, -sin y, -cos y), cos x = (cos y, -sin y, -cos y, sin y).
constexpr double kTwoOverPi = 0.63661977236758134308;
constexpr double kPiOver2Hi = 1.57079632673412561417;
constexpr double kPiOver2Lo = 6.07710050650619224932e-11;
constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 * 2^52

inline std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
inline double doubleOf(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void sinCosInline(double x, double* sine, double* cosine) {
    const double shifted = x * kTwoOverPi + kRoundingShift;
    const double n = shifted - kRoundingShift;
    const std::uint64_t quadrant = bitsOf(shifted);  // n mod 4 in the two lowest bits
    const double y = (x - n * kPiOver2Hi) - n * kPiOver2Lo;
    const double y2 = y * y;
    const double sinY =
        y + y * y2 * (-1.0 / 6 + y2 * (1.0 / 120 + y2 * (-1.0 / 5040 + y2 * (1.0 / 362880))));
    const double cosY =
        1 + y2 * (-0.5 +
                  y2 * (1.0 / 24 + y2 * (-1.0 / 720 + y2 * (1.0 / 40320 + y2 * (-1.0 / 3628800)))));
    const std::uint64_t swap = 0 - (quadrant & 1);  // all ones in quadrants 1 and 3
    const std::uint64_t sinBits = (bitsOf(sinY) & ~swap) | (bitsOf(cosY) & swap);
    const std::uint64_t cosBits = (bitsOf(cosY) & ~swap) | (bitsOf(sinY) & swap);
    *sine = doubleOf(sinBits ^ ((quadrant & 2) << 62));
    *cosine = doubleOf(cosBits ^ (((quadrant + 1) & 2) << 62));
}

// [SECTION] quadrature nodes

// Structure of arrays over the quadrature nodes, the nodes of each element contiguous, followed by
// kLanes zero-weight copies of the last node so that a block may read past the end of a range.
struct Nodes {
    std::vector<double> x, y, z;     // position, m
    std::vector<double> nx, ny, nz;  // the element's outward unit normal
    std::vector<double> zRe, zIm;    // the element's p_s / v_n, Pa s/m
    std::vector<double> taperScale;  // 1 / shadowTaper on curved elements, kHardEdge on flat ones
    std::vector<double> vn;          // fields x nodes (stride `stride`): v_n times weight
    std::vector<int> elementBegin;   // triangles + 1: first node of each element
    size_t stride = 0;
};

Nodes buildNodes(const SurfaceMesh& mesh, const Eigen::MatrixXd& vertexVelocity, double k,
                 const KirchhoffOptions& options) {
    const int triangleCount = static_cast<int>(mesh.triangles.size());
    const int fields = static_cast<int>(vertexVelocity.cols());
    std::vector<double> meanCurvature(triangleCount, 0.0);
    if ((options.doubleLayer && options.impedance == SurfaceImpedance::CurvatureCorrected) ||
        options.shadowTaper > 0) {
        const BemSurface surface = makeBemSurface(mesh.positions, mesh.triangles);
        for (int t = 0; t < triangleCount; ++t)
            meanCurvature[t] = surface.elements[t].meanCurvature;
    }
    Eigen::Vector3d lower, upper;
    boundingBox(mesh, lower, upper);
    const double diagonal = (upper - lower).norm();
    Nodes nodes;
    nodes.elementBegin.resize(triangleCount + 1);
    std::vector<int> pieces(triangleCount);
    int count = 0;
    for (int t = 0; t < triangleCount; ++t) {
        const Eigen::Vector3d &a = mesh.positions[mesh.triangles[t][0]],
                              &b = mesh.positions[mesh.triangles[t][1]],
                              &c = mesh.positions[mesh.triangles[t][2]];
        const double longest = std::max({(b - a).norm(), (c - b).norm(), (a - c).norm()});
        pieces[t] = std::max(1, static_cast<int>(std::ceil(k * longest / options.maxPieceKh)));
        nodes.elementBegin[t] = count;
        count += pieces[t] * pieces[t];
    }
    nodes.elementBegin[triangleCount] = count;
    nodes.stride = static_cast<size_t>(count) + kLanes;
    for (std::vector<double>* array : {&nodes.x, &nodes.y, &nodes.z, &nodes.nx, &nodes.ny,
                                       &nodes.nz, &nodes.zRe, &nodes.zIm, &nodes.taperScale})
        array->assign(nodes.stride, 0.0);
    nodes.vn.assign(nodes.stride * fields, 0.0);

    const double rhoC = kAirDensity_kgm3 * kSpeedOfSound_ms;
    for (int t = 0; t < triangleCount; ++t) {
        const std::array<int, 3>& corners = mesh.triangles[t];
        const Eigen::Vector3d& a = mesh.positions[corners[0]];
        const Eigen::Vector3d e1 = mesh.positions[corners[1]] - a;
        const Eigen::Vector3d e2 = mesh.positions[corners[2]] - a;
        const Eigen::Vector3d cross = e1.cross(e2);
        const Eigen::Vector3d normal = cross.normalized();
        // p_s / v_n = rho c ik / (ik + H) = rho c k (k - iH) / (k^2 + H^2).
        const double h = meanCurvature[t];
        const double hz = options.impedance == SurfaceImpedance::CurvatureCorrected ? h : 0;
        const Complex impedance = rhoC * Complex(k * k, -k * hz) / (k * k + hz * hz);
        // The taper belongs to smooth surfaces, whose shadow boundary is an artefact of the model;
        // a flat face ends at a true edge, and fading it out towards grazing would silence it.
        const bool curved = std::abs(h) * diagonal > kCurvedSurface;
        const double taperScale =
            options.shadowTaper > 0 && curved ? 1 / options.shadowTaper : kHardEdge;
        const int m = pieces[t];
        const double weight = 0.5 * cross.norm() / (m * m) / (4 * kPi);  // piece area / (4 pi)
        // Corner normal velocities of every field: v_n = u_v . n.
        Eigen::Matrix<double, 3, Eigen::Dynamic> cornerVn(3, fields);
        for (int c = 0; c < 3; ++c)
            for (int f = 0; f < fields; ++f)
                cornerVn(c, f) = vertexVelocity.block<3, 1>(3 * corners[c], f).dot(normal);
        int node = nodes.elementBegin[t];
        auto addNode = [&](double u, double v) {  // y = a + u e1 + v e2
            const Eigen::Vector3d y = a + u * e1 + v * e2;
            nodes.x[node] = y.x();
            nodes.y[node] = y.y();
            nodes.z[node] = y.z();
            nodes.nx[node] = normal.x();
            nodes.ny[node] = normal.y();
            nodes.nz[node] = normal.z();
            nodes.zRe[node] = impedance.real();
            nodes.zIm[node] = impedance.imag();
            nodes.taperScale[node] = taperScale;
            for (int f = 0; f < fields; ++f)
                nodes.vn[f * nodes.stride + node] =
                    weight *
                    ((1 - u - v) * cornerVn(0, f) + u * cornerVn(1, f) + v * cornerVn(2, f));
            ++node;
        };
        // The m^2 pieces of the lattice of step 1/m in (u, v): m(m+1)/2 pointing like the element
        // (corners (i, j), (i+1, j), (i, j+1)) and m(m-1)/2 turned over.
        for (int i = 0; i < m; ++i)
            for (int j = 0; i + j < m; ++j) {
                addNode((i + 1.0 / 3) / m, (j + 1.0 / 3) / m);
                if (i + j < m - 1) addNode((i + 2.0 / 3) / m, (j + 2.0 / 3) / m);
            }
    }
    // Padding: copies of the last node's geometry (finite kernels), zero weight.
    for (size_t p = count; p < nodes.stride && count > 0; ++p)
        for (std::vector<double>* array : {&nodes.x, &nodes.y, &nodes.z, &nodes.nx, &nodes.ny,
                                           &nodes.nz, &nodes.zRe, &nodes.zIm, &nodes.taperScale})
            (*array)[p] = (*array)[count - 1];
    return nodes;
}

// [SECTION] kernel

// The kernel at the nodes [begin, begin + count) seen from x: the integrand per unit weighted
// normal velocity, K = G (D Z + i w rho) for Kirchhoff-Helmholtz (p_s = Z v_n, -q = i w rho v_n,
// D = dG/dn_y / G = (1 + ikr) (x - y).n / r^2) and K = 2 i w rho G for Rayleigh, with
// 4 pi r G = e^{-ikr} (the 1 / (4 pi) is in the weights), each times the node's shadow taper
// (kTaper). Computes whole blocks of kLanes (the
// node arrays are padded for that); kRe and kIm hold count rounded up to kLanes. Adds K_i vn_i of
// the first field (vn: its weighted normal velocities) to the kLanes partial sums sumRe, sumIm, for
// the whole blocks: the caller takes back the nodes past `count`.
struct NodeArrays {
    const double *x, *y, *z, *nx, *ny, *nz, *zRe, *zIm, *taperScale;
};

template <bool kDoubleLayer, bool kTaper>
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
// One copy per instruction set, chosen when the program loads: AVX-512 (eight lanes), AVX2 with
// FMA (four), and the SSE2 baseline (two).
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
void kernelBlock(const NodeArrays& nodes, int begin, int count, const Eigen::Vector3d& point,
                 double k, double omegaRho, const double* __restrict vn,
                 double* __restrict sumRe, double* __restrict sumIm, double* __restrict kRe,
                 double* __restrict kIm) {
    const double px = point.x(), py = point.y(), pz = point.z();
    const double* __restrict xs = nodes.x + begin;
    const double* __restrict ys = nodes.y + begin;
    const double* __restrict zs = nodes.z + begin;
    const double* __restrict nxs = nodes.nx + begin;
    const double* __restrict nys = nodes.ny + begin;
    const double* __restrict nzs = nodes.nz + begin;
    const double* __restrict zRes = nodes.zRe + begin;
    const double* __restrict zIms = nodes.zIm + begin;
    const double* __restrict scales = nodes.taperScale + begin;
    double laneRe[kLanes] = {}, laneIm[kLanes] = {};
    for (int block = 0; block < count; block += kLanes)
        for (int lane = 0; lane < kLanes; ++lane) {
            const int i = block + lane;
            const double dx = px - xs[i], dy = py - ys[i], dz = pz - zs[i];
            const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
            const double invR = 1 / r;
            const double kr = k * r;
            double sine, cosine;
            sinCosInline(kr, &sine, &cosine);
            const double gRe = cosine * invR, gIm = -sine * invR;  // 4 pi G = e^{-ikr} / r
            const double cosPsi = (dx * nxs[i] + dy * nys[i] + dz * nzs[i]) * invR;
            // The shadow taper: fade = 3t^2 - 2t^3, t = cos(psi) / taper clamped to [0, 1].
            // Clamped without comparisons, which would keep the loop from vectorising:
            // max(s, 0) = (s + |s|) / 2, min(q, 1) = (q + 1 - |q - 1|) / 2.
            const double scaled = cosPsi * scales[i];
            const double positive = 0.5 * (scaled + std::abs(scaled));
            const double t = 0.5 * (positive + 1 - std::abs(positive - 1));
            const double fade = kTaper ? t * t * (3 - 2 * t) : 1.0;
            if (kDoubleLayer) {
                // M = (1 + ikr) Z (x - y).n / r^2 + i w rho, (x - y).n / r^2 = cos(psi) / r.
                const double height = cosPsi * invR;
                const double mRe = fade * height * (zRes[i] - kr * zIms[i]);
                const double mIm = fade * (height * (zIms[i] + kr * zRes[i]) + omegaRho);
                kRe[i] = gRe * mRe - gIm * mIm;
                kIm[i] = gRe * mIm + gIm * mRe;
            } else {
                kRe[i] = -2 * fade * omegaRho * gIm;  // 2 i w rho G
                kIm[i] = 2 * fade * omegaRho * gRe;
            }
            laneRe[lane] += kRe[i] * vn[i];  // the first field, summed here
            laneIm[lane] += kIm[i] * vn[i];
        }
    for (int lane = 0; lane < kLanes; ++lane) {
        sumRe[lane] += laneRe[lane];
        sumIm[lane] += laneIm[lane];
    }
}

// sum over i < count of K_i * vn_i, in kLanes partial sums.
inline Complex reduceBlock(const double* kRe, const double* kIm, const double* vn, int count) {
    double sumRe[kLanes] = {}, sumIm[kLanes] = {};
    const int whole = count / kLanes * kLanes;
    for (int block = 0; block < whole; block += kLanes)
        for (int lane = 0; lane < kLanes; ++lane) {
            sumRe[lane] += kRe[block + lane] * vn[block + lane];
            sumIm[lane] += kIm[block + lane] * vn[block + lane];
        }
    for (int i = whole; i < count; ++i) {
        sumRe[i - whole] += kRe[i] * vn[i];
        sumIm[i - whole] += kIm[i] * vn[i];
    }
    double re = 0, im = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
        re += sumRe[lane];
        im += sumIm[lane];
    }
    return Complex(re, im);
}

// First index in [from, limit) whose bit is `value`, or `limit`.
int nextBit(const std::uint64_t* words, int from, int limit, bool value) {
    while (from < limit) {
        std::uint64_t word = value ? words[from / 64] : ~words[from / 64];
        word &= ~std::uint64_t(0) << (from % 64);
        if (word != 0) return std::min(limit, from / 64 * 64 + __builtin_ctzll(word));
        from = (from / 64 + 1) * 64;
    }
    return limit;
}

}  // namespace

void sinCos(double x, double* sine, double* cosine) { sinCosInline(x, sine, cosine); }

Eigen::MatrixXcd kirchhoffPressure(const SurfaceMesh& mesh, const PointVisibility& visibility,
                                   const std::vector<Eigen::Vector3d>& points,
                                   const Eigen::MatrixXd& vertexVelocity, double omega,
                                   const KirchhoffOptions& options, int threadCount) {
    const int triangleCount = static_cast<int>(mesh.triangles.size());
    const int pointCount = static_cast<int>(points.size());
    if (!(omega > 0)) throw std::invalid_argument("kirchhoffPressure: omega must be positive");
    if (vertexVelocity.rows() != 3 * static_cast<Eigen::Index>(mesh.positions.size()))
        throw std::invalid_argument("kirchhoffPressure: vertexVelocity has " +
                                    std::to_string(vertexVelocity.rows()) + " rows, expected 3 x " +
                                    std::to_string(mesh.positions.size()) + " vertices");
    if (options.useVisibility &&
        (visibility.pointCount != pointCount || visibility.triangleCount != triangleCount))
        throw std::invalid_argument("kirchhoffPressure: visibility table is " +
                                    std::to_string(visibility.pointCount) + " x " +
                                    std::to_string(visibility.triangleCount) + ", expected " +
                                    std::to_string(pointCount) + " points x " +
                                    std::to_string(triangleCount) + " triangles");
    if (!(options.maxPieceKh > 0))
        throw std::invalid_argument("kirchhoffPressure: maxPieceKh must be positive");

    const int fields = static_cast<int>(vertexVelocity.cols());
    if (fields == 0 || pointCount == 0) return Eigen::MatrixXcd(pointCount, fields);
    const double k = omega / kSpeedOfSound_ms;
    const double omegaRho = omega * kAirDensity_kgm3;
    const Nodes nodes = buildNodes(mesh, vertexVelocity, k, options);
    const NodeArrays arrays{nodes.x.data(),   nodes.y.data(),   nodes.z.data(),
                            nodes.nx.data(),  nodes.ny.data(),  nodes.nz.data(),
                            nodes.zRe.data(), nodes.zIm.data(), nodes.taperScale.data()};
    const bool taper = options.shadowTaper > 0;
    const auto kernel = options.doubleLayer
                            ? (taper ? kernelBlock<true, true> : kernelBlock<true, false>)
                            : (taper ? kernelBlock<false, true> : kernelBlock<false, false>);
    const std::vector<std::uint64_t> everyTriangle((triangleCount + 63) / 64, ~std::uint64_t(0));

    Eigen::MatrixXcd pressure = Eigen::MatrixXcd::Zero(pointCount, fields);
    parallelFor(pointCount, threadCount, [&](int p) {
        double kRe[kBlockNodes], kIm[kBlockNodes];
        double firstRe[kLanes] = {}, firstIm[kLanes] = {};
        const std::uint64_t* seen =
            options.useVisibility ? visibility.row(p) : everyTriangle.data();
        std::vector<Complex> sum(fields, Complex(0, 0));
        // Runs of consecutive visible triangles are contiguous ranges of nodes.
        for (int t = nextBit(seen, 0, triangleCount, true); t < triangleCount;) {
            const int end = nextBit(seen, t, triangleCount, false);
            const int last = nodes.elementBegin[end];
            for (int begin = nodes.elementBegin[t]; begin < last; begin += kBlockNodes) {
                const int count = std::min(kBlockNodes, last - begin);
                kernel(arrays, begin, count, points[p], k, omegaRho, nodes.vn.data() + begin,
                       firstRe, firstIm, kRe, kIm);
                for (int i = count; i < (count + kLanes - 1) / kLanes * kLanes; ++i) {
                    firstRe[0] -= kRe[i] * nodes.vn[begin + i];  // not in the range
                    firstIm[0] -= kIm[i] * nodes.vn[begin + i];
                }
                for (int f = 1; f < fields; ++f)
                    sum[f] +=
                        reduceBlock(kRe, kIm, nodes.vn.data() + f * nodes.stride + begin, count);
            }
            t = nextBit(seen, end, triangleCount, true);
        }
        for (int lane = 0; lane < kLanes; ++lane) sum[0] += Complex(firstRe[lane], firstIm[lane]);
        for (int f = 0; f < fields; ++f) pressure(p, f) = sum[f];
    });
    return pressure;
}
