// The exterior acoustic problem of a vibrating object: given the normal velocity of its surface at
// one angular frequency, the pressure it radiates into free space. The baker's transfer stage
// calls it once per mode (or once per group of modes at one frequency); assembly and products
// run on all cores.
//
// Physics: SI units; air of density 1.2 kg/m^3 and sound speed 343 m/s; time dependence e^{+iwt},
// so outgoing waves are e^{-ikr} with k = w / c; Euler's equation i w rho v = -grad p gives the
// Neumann data q = dp/dn = -i w rho v_n on the surface (n out of the solid).
//
// Formulation (Burton-Miller, constant elements collocated at the centroids): with S, D, D', H
// of bem_quadrature.h,
//   (1/2 I - D + alpha H) p = (-S + alpha (1/2 I + D')) q,   alpha = +i / max(k, 1/R),
// which has a unique solution at every k, including the interior Dirichlet resonances of the
// solid where (1/2 I - D) p = -S q alone is singular. R is the half-diagonal of the object's
// bounding box: a ball of radius R holds the solid, so no interior resonance lies below
// k = pi / R, and below k = 1/R the coupling is held at i R instead of growing as i/k, which
// would magnify the O(h) consistency error of the hypersingular part as 1/(kR). Then in the air, by
// Green's formula,
//   p(x) = int [p dG/dn_y - G q] dS_y.
#pragma once

#include <Eigen/Core>
#include <complex>
#include <vector>

#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/bem_near_field.h"
#include "tools/bake/transfer/bem/bem_surface.h"

struct BemOptions {
    double gmresTolerance = 1e-6;  // relative residual
    int maxIterations = 600;
    int threadCount = 0;     // 0: all hardware threads
    int nearFieldDepth = 4;  // recursive splits of nearby elements
    // false: the conventional equation (1/2 I - D) p = -S q alone, which fails at the interior
    // resonances; kept to show that failure.
    bool burtonMiller = true;
    // From this many elements on, the matrix is stored in single precision and the GMRES
    // tolerance is at least 1e-5.
    int singlePrecisionFrom = 3000;
};

struct BemSolution {
    double omega = 0;                 // rad/s
    double waveNumber = 0;            // k = omega / c, 1/m
    Eigen::MatrixXcd pressure;        // elements x fields: surface pressure, Pa
    Eigen::MatrixXcd normalGradient;  // elements x fields: q = dp/dn = -i omega rho v_n, Pa/m
    std::vector<int> iterations;      // GMRES products per field
    bool converged = true;            // every field reached the tolerance
    double assemblySeconds = 0, solveSeconds = 0;
};

// A solution's frequency, wave number k = omega / c and Neumann data q = dp/dn = -i omega rho v_n
// (Euler's equation, e^{+i omega t}) for the normal velocities `normalVelocity` (m/s, elements x
// fields); its pressure is left to the solver.
BemSolution startBemSolution(double omega, const Eigen::MatrixXd& normalVelocity);

// Solves the exterior Neumann problem for each column of `normalVelocity` (elements x fields,
// outward normal velocity in m/s, e.g. u_i . n for unit modal velocity of mode i) at angular
// frequency `omega` > 0. All fields share one matrix (e.g. the two modes of a degenerate pair).
// Cost: one dense complex matrix of elements^2 entries (16 bytes each; 8 from
// options.singlePrecisionFrom elements on).
BemSolution solveExteriorNeumann(const BemSurface& surface, double omega,
                                 const Eigen::MatrixXd& normalVelocity,
                                 const BemOptions& options = BemOptions());
// The same with the surface's near field computed beforehand (makeNearField with
// options.nearFieldDepth), for many frequencies on one surface.
BemSolution solveExteriorNeumann(const BemSurface& surface, const BemNearField& nearField,
                                 double omega, const Eigen::MatrixXd& normalVelocity,
                                 const BemOptions& options = BemOptions());

// The Burton-Miller coupling alpha = +i / max(k, 1/R) at wave number `waveNumber` (1/m), R the
// half-diagonal of the surface's bounding box; 0 when `options.burtonMiller` is false.
std::complex<double> burtonMillerCoupling(const BemSurface& surface, double waveNumber,
                                          const BemOptions& options);

// Complex pressure (Pa) at each of `points` (in the air, off the surface) for every field of
// `solution`: points x fields. Points near the surface are integrated with element subdivision.
Eigen::MatrixXcd radiatedPressure(const BemSurface& surface, const BemSolution& solution,
                                  const std::vector<Eigen::Vector3d>& points,
                                  const BemOptions& options = BemOptions());
