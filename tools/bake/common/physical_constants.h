// The air every acoustic step of the baker radiates into, in SI units: one home for the numbers
// that the boundary element solvers, the high-frequency model, the transfer's wave numbers and
// the acoustic mesh sizes all use; and pi, for every angle and every omega = 2 pi f of the baker.
#pragma once

constexpr double kAirDensity_kgm3 = 1.2;    // rho, kg/m^3
constexpr double kSpeedOfSound_ms = 343.0;  // c, m/s
constexpr double kPi = 3.14159265358979323846;
