// The stored form of a mode's acoustic transfer: point sources of order 0 and 1 radiating at the
// mode's wave number. The baker fits them (multipole_fit.h) and checks them with the complex
// evaluation here, which follows the program's own evaluation term for term, so what the baker
// fits is exactly what the program plays.
//
// A source at O with coefficients a0..a3 adds at x, with r = |x - O|, (theta, phi) the polar
// angles of x - O about the z axis, and h_n = j_n - i y_n the spherical Hankel functions of the
// second kind (outgoing for e^{+iwt}):
//   a0 h0(kr) + a1 h1(kr) cos(theta) + a2 h1(kr) sin(theta) e^{-i phi} - a3 h1(kr) sin(theta) e^{+i
//   phi} h0(x) = (sin x + i cos x) / x, h1(x) = (sin x / x - cos x) / x + i (cos x / x + sin x) /
//   x.
// No normalisation constants. A dipole of complex moment d (field h1(kr) d.(x - O)/r) has
// a1 = d_z, a2 = (d_x + i d_y) / 2, a3 = (-d_x + i d_y) / 2.
//
// The sources of one mode are an 11 x n matrix, one column per source: rows 0-2 the position
// (model frame, m), then Re/Im of a0, a1, a2, a3.
#pragma once

#include <Eigen/Core>
#include <array>
#include <complex>

using MultipoleSources = Eigen::Matrix<double, 11, Eigen::Dynamic>;

// h0(x) and h1(x) of the second kind, as above. Precondition: x > 0.
std::complex<double> sphericalHankel0(double x);
std::complex<double> sphericalHankel1(double x);

// The four basis fields of a source at `source` evaluated at `x` (wave number k, 1/m):
// {h0, h1 cos(theta), h1 sin(theta) e^{-i phi}, -h1 sin(theta) e^{+i phi}}, so that a source's
// field is the dot product of its coefficients with them. Precondition: x != source.
std::array<std::complex<double>, 4> multipoleBasis(const Eigen::Vector3d& source, double k,
                                                   const Eigen::Vector3d& x);

// Complex pressure at `x` of all sources (11 x n) at wave number k, the program's sum in its
// order of operations (on the vertical through a source phi is taken as 0).
std::complex<double> evaluateMultipoles(const MultipoleSources& sources, double k,
                                        const Eigen::Vector3d& x);

// The 11-row column of one source.
Eigen::Matrix<double, 11, 1> multipoleColumn(
    const Eigen::Vector3d& position, const std::array<std::complex<double>, 4>& coefficients);
