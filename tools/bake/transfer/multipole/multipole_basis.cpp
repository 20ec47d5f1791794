// Order-0 and order-1 point sources with spherical Hankel functions of the second kind (see
// multipole_basis.h).
#include "tools/bake/transfer/multipole/multipole_basis.h"

#include <cmath>

using Complex = std::complex<double>;

Complex sphericalHankel0(double x) { return Complex(std::sin(x) / x, std::cos(x) / x); }

Complex sphericalHankel1(double x) {
    const double s = std::sin(x), c = std::cos(x);
    return Complex((s / x - c) / x, (c / x + s) / x);
}

std::array<Complex, 4> multipoleBasis(const Eigen::Vector3d& source, double k,
                                      const Eigen::Vector3d& x) {
    const Eigen::Vector3d d = x - source;
    const double r = d.norm();
    const Complex h0 = sphericalHankel0(k * r), h1 = sphericalHankel1(k * r);
    // sin(theta) e^{-+i phi} = (dx -+ i dy) / r: no division by the horizontal distance.
    return {h0, h1 * (d.z() / r), h1 * Complex(d.x(), -d.y()) / r, -h1 * Complex(d.x(), d.y()) / r};
}

Complex evaluateMultipoles(const MultipoleSources& sources, double k, const Eigen::Vector3d& x) {
    Complex sum = 0;
    for (Eigen::Index j = 0; j < sources.cols(); ++j) {
        const auto s = sources.col(j);
        const double dx = x.x() - s[0], dy = x.y() - s[1], dz = x.z() - s[2];
        const double rho = std::sqrt(dx * dx + dy * dy);
        const double r = std::sqrt(rho * rho + dz * dz);
        const double cosTheta = dz / r, sinTheta = rho / r;
        const double cosPhi = rho > 0 ? dx / rho : 1.0, sinPhi = rho > 0 ? dy / rho : 0.0;
        const Complex h0 = sphericalHankel0(k * r), h1 = sphericalHankel1(k * r);
        const Complex a0(s[3], s[4]), a1(s[5], s[6]), a2(s[7], s[8]), a3(s[9], s[10]);
        sum += a0 * h0 + a1 * h1 * cosTheta + a2 * h1 * sinTheta * Complex(cosPhi, -sinPhi) -
               a3 * h1 * sinTheta * Complex(cosPhi, sinPhi);
    }
    return sum;
}

Eigen::Matrix<double, 11, 1> multipoleColumn(const Eigen::Vector3d& position,
                                             const std::array<Complex, 4>& coefficients) {
    Eigen::Matrix<double, 11, 1> column;
    column.head<3>() = position;
    for (int m = 0; m < 4; ++m) {
        column[3 + 2 * m] = coefficients[m].real();
        column[4 + 2 * m] = coefficients[m].imag();
    }
    return column;
}
