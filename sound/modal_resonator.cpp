// The resonator's coefficients: everything transcendental a mode needs is computed here, once per
// damping setting, so that advance() is a handful of multiplications.
#include "sound/modal_resonator.h"

#include <cmath>
#include <complex>
#include <cstdio>

#include "platform/input_exit.h"

ModalResonator::ModalResonator(double mass, double damping, double stiffness, double timeStep)
    : mass(mass),
      damping(damping),
      stiffness(stiffness),
      displacement(0.0),
      velocity(0.0),
      force(0.0),
      timeStep(timeStep),
      stateReal(0.0),
      omega(0.0),
      dampingRatio(0.0),
      stepFactor{0.0, 0.0},
      inputFactor{0.0, 0.0},
      dampedOmega(0.0),
      poleReal(0.0) {
    // A refusal leaves E = G = 0: the mode then never leaves rest.
    (void)setDamping(damping);
}

double ModalResonator::dampingRatioFor(double c) const {
    const double omegaNew = std::sqrt(stiffness / mass);
    return c / (omegaNew * mass + omegaNew * mass);
}

int ModalResonator::setDamping(double c) {
    const double omegaNew = std::sqrt(stiffness / mass);
    const double xi = dampingRatioFor(c);
    // Written so that xi = NaN (omega = 0 and c = 0) is refused too: the factors below would be
    // 0/0 and would put NaN into every later sample.
    if (!(xi < 1.0)) {
        printInputMessage(
            stdout, "Error: ksi = %G >= 1 . The IIR filter only supports underdamped systems.\n",
            xi);
        return 1;
    }
    damping = c;
    omega = omegaNew;
    dampingRatio = xi;
    dampedOmega = std::sqrt(1.0 - xi * xi) * omegaNew;
    poleReal = -(xi * omegaNew);
    const std::complex<double> lambda(poleReal, dampedOmega);
    // Exact zero-order-hold discretisation of z' = lambda z + f/(m omega_d):
    // z(t + dt) = e^{lambda dt} z(t) + (e^{lambda dt} - 1)/(m omega_d lambda) f.
    const std::complex<double> E = std::exp(timeStep * lambda);
    const std::complex<double> G = (1.0 / ((lambda * mass) * dampedOmega)) * (E - 1.0);
    stepFactor[0] = E.real();
    stepFactor[1] = E.imag();
    inputFactor[0] = G.real();
    inputFactor[1] = G.imag();
    return 0;
}
