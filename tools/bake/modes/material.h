// The isotropic linear elastic material of a struck object, and its Lamé constants.
#pragma once

#include <string>

struct Material {
    double youngsModulus = 0.0;  // E, Pa
    double poissonRatio = 0.0;   // nu, dimensionless
    double density = 0.0;        // rho, kg/m^3
};

// Throws BakeError naming `sourceName` unless E > 0, -1 < nu < 0.5 (a positive definite elastic
// energy) and rho > 0, all finite.
void checkMaterial(const Material& material, const std::string& sourceName);

// Lamé's first parameter lambda = E nu / ((1 + nu)(1 - 2 nu)), Pa.
double lameLambda(const Material& material);
// Shear modulus mu = E / (2 (1 + nu)), Pa.
double shearModulus(const Material& material);
