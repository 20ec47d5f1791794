// One vibration mode of the struck object as an exact digital resonator: the damped oscillator
// m q'' + c q' + k q = f integrated exactly over each audio sample for a force held constant
// during the sample (zero-order hold).
//
// Scene loading builds one per mode (the bank, sound/synthesis_state.h); the audio callbacks
// advance them sample by sample while holding synthesisMutex; the control panel changes their
// damping and silences them on the GUI thread, also under synthesisMutex.
//
// Convention: the complex state z = stateReal + i*displacement obeys z' = lambda*z + f/(m*omega_d)
// with the pole lambda = -xi*omega + i*omega_d; its imaginary part obeys the oscillator equation,
// and the velocity is Im(lambda*z). One step is z <- E*z + G*f with E = exp(lambda*dt) and
// G = (E - 1)/(m*omega_d*lambda), both computed once per damping setting.
#pragma once

class ModalResonator {
  public:
    // A resonator at rest (state and force 0) with the given modal mass m (kg), damping c
    // (kg/s), stiffness k (N/m) and time step dt (s); calls setDamping(damping). When that is
    // refused (the mode would not be underdamped, or k = 0), the message is printed and the
    // resonator keeps zero coefficients: it stays silent whatever force it is given.
    // Preconditions: mass > 0, stiffness >= 0, timeStep > 0.
    ModalResonator(double mass, double damping, double stiffness, double timeStep);

    // Derives omega, xi, omega_d, the pole and the step and input factors from the damping
    // coefficient c (kg/s) and the stored mass, stiffness and time step. Returns 0 on success.
    // Returns 1 and changes nothing when xi = c / (2 m omega) is not below 1 (critically damped,
    // overdamped, or a mode of frequency 0 with positive damping), printing
    // "Error: ksi = %G >= 1 . The IIR filter only supports underdamped systems.\n"; a mode of
    // frequency 0 with zero damping (xi = 0/0) is refused the same way. The state is not touched,
    // so a ringing mode rings on with the new decay.
    // The message goes through printInputMessage (platform/input_exit.h): the engine library
    // keeps it instead of printing.
    int setDamping(double c);

    // xi = c / (2 m omega) for damping c with the stored mass and stiffness, computed as
    // setDamping computes it: setDamping(c) accepts c exactly when the result is below 1.
    double dampingRatioFor(double c) const;

    // One time step with the held `force`: z <- E z + G f, velocity = Im(lambda z).
    // Real-time: six multiplications for the state and two for the velocity; no allocation, no
    // I/O, no lock, no transcendental function.
    void advance() {
        const double s = stateReal;
        const double q = displacement;
        const double f = force;
        const double sNext = s * stepFactor[0] - stepFactor[1] * q + inputFactor[0] * f;
        const double qNext = inputFactor[1] * f + s * stepFactor[1] + stepFactor[0] * q;
        stateReal = sNext;
        displacement = qNext;
        velocity = qNext * poleReal + dampedOmega * sNext;
    }

    // Puts the resonator at rest: stateReal, displacement and velocity 0; force unchanged.
    // Real-time: no allocation, no I/O, no lock.
    void silence() {
        stateReal = 0.0;
        displacement = 0.0;
        velocity = 0.0;
    }

    // silence() when |velocity| < 1e-50 and |displacement| < 1e-50 (both strictly), so that a
    // decayed mode does not linger in denormal arithmetic.
    // Real-time: no allocation, no I/O, no lock.
    void flushIfNegligible() {
        if (velocity < 1e-50 && velocity > -1e-50 && displacement < 1e-50 &&
            displacement > -1e-50) {
            silence();
        }
    }

    // Fields in this order; all SI units.
    double mass;            // modal mass m, kg
    double damping;         // damping coefficient c, kg/s
    double stiffness;       // modal stiffness k, N/m
    double displacement;    // modal displacement q, m; Im z
    double velocity;        // modal velocity q', m/s
    double force;           // modal force f held during the current step, N
    double timeStep;        // dt, s
    double stateReal;       // Re z
    double omega;           // undamped angular frequency sqrt(k/m), rad/s
    double dampingRatio;    // xi = c / (2 m omega)
    double stepFactor[2];   // E = exp(lambda dt): real, imaginary
    double inputFactor[2];  // G = (E - 1) / (m omega_d lambda): real, imaginary
    double dampedOmega;     // omega_d = omega sqrt(1 - xi^2), rad/s
    double poleReal;        // -xi omega, 1/s
};
