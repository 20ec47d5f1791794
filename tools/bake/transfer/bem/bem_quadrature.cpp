// Element integrals of the Helmholtz kernels (see bem_quadrature.h).
#include "tools/bake/transfer/bem/bem_quadrature.h"

#include <array>
#include <cmath>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/triangle_rules.h"

namespace {

using Complex = std::complex<double>;

// Gauss-Legendre on [0, 1], 8 points, for the polar quadrature of the self term.
const std::array<double, 8> kGaussNodes = {0.019855071751232, 0.101666761293187, 0.237233795041836,
                                           0.408282678752175, 0.591717321247825, 0.762766204958164,
                                           0.898333238706813, 0.980144928248768};
const std::array<double, 8> kGaussWeights = {
    0.050614268145188, 0.111190517226687, 0.156853322938944, 0.181341891689181,
    0.181341891689181, 0.156853322938944, 0.111190517226687, 0.050614268145188};

// Adds weight * kernels(x, y) for one source point y. With rv = x - y:
//   G' = dG/dr = -(1 + ikr) G / r,   G'' = (2 + 2ikr - k^2 r^2) G / r^2,
//   dr/dn_x = rv.n_x / r,            dr/dn_y = -rv.n_y / r,
//   d2G/(dn_x dn_y) = (G'' - G'/r) dr/dn_x dr/dn_y - G' (n_x.n_y) / r.
template <bool kFull>
inline void addKernels(const Eigen::Vector3d& x, const Eigen::Vector3d& nx,
                       const Eigen::Vector3d& y, const Eigen::Vector3d& ny, double k, double weight,
                       BemIntegrals* sum) {
    // Written out in real arithmetic: this is the innermost loop of the assembly.
    const Eigen::Vector3d rv = x - y;
    const double r = rv.norm();
    const double invR = 1 / r;
    const double kr = k * r;
    const double g = invR / (4 * kPi);
    const double gRe = g * std::cos(kr), gIm = -g * std::sin(kr);  // G
    const double d1Re = -(gRe - kr * gIm) * invR;                  // G' = -(1 + ikr) G / r
    const double d1Im = -(gIm + kr * gRe) * invR;
    const double drdny = -rv.dot(ny) * invR;
    sum->single += Complex(weight * gRe, weight * gIm);
    sum->doubleLayer += Complex(weight * drdny * d1Re, weight * drdny * d1Im);
    if (!kFull) return;
    const double a = 2 - kr * kr, b = 2 * kr;  // G'' = (2 - k^2 r^2 + 2ikr) G / r^2
    const double d2Re = (a * gRe - b * gIm) * invR * invR;
    const double d2Im = (a * gIm + b * gRe) * invR * invR;
    const double drdnx = rv.dot(nx) * invR;
    sum->adjointDoubleLayer += Complex(weight * drdnx * d1Re, weight * drdnx * d1Im);
    const double radial = weight * drdnx * drdny, tangential = weight * nx.dot(ny) * invR;
    sum->hypersingular += Complex((d2Re - d1Re * invR) * radial - d1Re * tangential,
                                  (d2Im - d1Im * invR) * radial - d1Im * tangential);
}

template <bool kFull, size_t N>
void applyRule(const std::array<TrianglePoint, N>& rule, const Eigen::Vector3d& x,
               const Eigen::Vector3d& nx, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
               const Eigen::Vector3d& c, const Eigen::Vector3d& ny, double area, double k,
               BemIntegrals* sum) {
    for (const TrianglePoint& p : rule)
        addKernels<kFull>(x, nx, p.a * a + p.b * b + p.c * c, ny, k, p.weight * area, sum);
}

// Adaptive rule: the ratio of distance to size decides the points; close triangles split in four.
// kFull: all four kernels; otherwise only G and dG/dn_y (the field in the air).
template <bool kFull>
void integrateTriangle(const Eigen::Vector3d& x, const Eigen::Vector3d& nx,
                       const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                       const Eigen::Vector3d& ny, double area, double k, int depthLeft,
                       BemIntegrals* sum) {
    const double size =
        std::max({(b - a).squaredNorm(), (c - b).squaredNorm(), (a - c).squaredNorm()});
    const double h = std::sqrt(size);
    const double distance = (x - (a + b + c) / 3.0).norm();
    const double kh = k * h;
    if (distance > 8 * h && kh < 0.3) {
        applyRule<kFull>(kCentroidRule, x, nx, a, b, c, ny, area, k, sum);
    } else if (distance > 4 * h && kh < 1.0) {
        applyRule<kFull>(kDegree2Rule, x, nx, a, b, c, ny, area, k, sum);
    } else if (distance > 2 * h || depthLeft == 0) {
        applyRule<kFull>(kDegree5Rule, x, nx, a, b, c, ny, area, k, sum);
    } else {
        const Eigen::Vector3d ab = 0.5 * (a + b), bc = 0.5 * (b + c), ca = 0.5 * (c + a);
        const double quarter = 0.25 * area;
        integrateTriangle<kFull>(x, nx, a, ab, ca, ny, quarter, k, depthLeft - 1, sum);
        integrateTriangle<kFull>(x, nx, ab, b, bc, ny, quarter, k, depthLeft - 1, sum);
        integrateTriangle<kFull>(x, nx, ca, bc, c, ny, quarter, k, depthLeft - 1, sum);
        integrateTriangle<kFull>(x, nx, ab, bc, ca, ny, quarter, k, depthLeft - 1, sum);
    }
}

}  // namespace

BemIntegrals integrateOffElement(const Eigen::Vector3d& x, const Eigen::Vector3d& nx,
                                 const BemElement& element, double waveNumber, int maxDepth) {
    BemIntegrals sum{};
    if (nx.isZero())
        integrateTriangle<false>(x, nx, element.corners[0], element.corners[1], element.corners[2],
                                 element.normal, element.area, waveNumber, maxDepth, &sum);
    else
        integrateTriangle<true>(x, nx, element.corners[0], element.corners[1], element.corners[2],
                                element.normal, element.area, waveNumber, maxDepth, &sum);
    return sum;
}

BemIntegrals integrateSelf(const BemElement& element, double k) {
    const Eigen::Vector3d& x = element.centroid;
    BemIntegrals sum{};
    double laplaceRim = 0;          // closed integral of d(theta) / R(theta) about x
    Complex curvatureIntegral = 0;  // int (1 + ikr) e^{-ikr} / (4 pi r) dS
    for (int edge = 0; edge < 3; ++edge) {
        const Eigen::Vector3d& p1 = element.corners[edge];
        const Eigen::Vector3d& p2 = element.corners[(edge + 1) % 3];
        // Edge seen from x: foot of the perpendicular at distance d, ends at signed t1 < t2;
        // with R = d / cos(theta), the edge adds (sin theta2 - sin theta1) / d.
        const Eigen::Vector3d along = (p2 - p1).normalized();
        const double t1 = (p1 - x).dot(along), t2 = (p2 - x).dot(along);
        const double d = ((p1 - x) - t1 * along).norm();
        laplaceRim += (t2 / std::hypot(t2, d) - t1 / std::hypot(t1, d)) / d;
        // Polar (Duffy) quadrature over the triangle (x, p1, p2): y = x + s (p(t) - x),
        // dA = s |(p1 - x) x (p2 - x)| ds dt, which cancels the 1/r of the kernels.
        const double jacobian = (p1 - x).cross(p2 - x).norm();
        for (size_t i = 0; i < kGaussNodes.size(); ++i) {
            const Eigen::Vector3d edgePoint = p1 + kGaussNodes[i] * (p2 - p1);
            const double rim = (edgePoint - x).norm();
            for (size_t j = 0; j < kGaussNodes.size(); ++j) {
                const double s = kGaussNodes[j];
                const double r = s * rim;
                const double kr = k * r;
                const double weight = kGaussWeights[i] * kGaussWeights[j] * s * jacobian;
                const Complex phase(std::cos(kr), -std::sin(kr));
                sum.single += weight * phase / (4 * kPi * r);
                curvatureIntegral += weight * Complex(1, kr) * phase / (4 * kPi * r);
                // [(1 + ikr) e^{-ikr} - 1] / (4 pi r^3); series below kr = 1e-3 to avoid
                // cancellation: z^2/2 - i z^3/3 - z^4/8.
                Complex remainder;
                if (kr < 1e-3)
                    remainder = Complex(0.5 * kr * kr - kr * kr * kr * kr / 8, -kr * kr * kr / 3);
                else
                    remainder = Complex(1, kr) * phase - 1.0;
                sum.hypersingular += weight * remainder / (4 * kPi * r * r * r);
            }
        }
    }
    sum.hypersingular += -laplaceRim / (4 * kPi);
    sum.adjointDoubleLayer = -0.5 * element.meanCurvature * curvatureIntegral;
    return sum;
}
