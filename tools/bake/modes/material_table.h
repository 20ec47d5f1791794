// The baker's built-in materials: what a user names with "--material steel" or a recipe's
// "material": "steel". Each entry holds the isotropic elastic constants (handbook values of a
// common grade), the Rayleigh damping that gives the material its typical decay, and an OBJ/MTL
// colour that reads as the material under the demo's lights. Read by the recipe reader and the
// command-line recipe; plain data.
#pragma once

#include <Eigen/Core>
#include <string>

#include "tools/bake/modes/material.h"

struct MaterialPreset {
    const char* name;
    Material elastic;         // E (Pa), nu, rho (kg/m^3)
    double massDamping;       // Rayleigh alpha, 1/s
    double stiffnessDamping;  // Rayleigh beta, s: mode i decays at c_i = alpha + beta omega_i^2
    Eigen::Vector3d ambient, diffuse, specular;  // MTL Ka, Kd, Ks, each in [0, 1]
    double shininess;                            // MTL Ns (0 to 1000)
};

// The entry named `name` (exact, lower case), or null.
const MaterialPreset* findMaterialPreset(const std::string& name);

// The names of every entry, in table order, separated by ", " (for messages and --help).
std::string materialPresetNames();

// Every entry, in table order; *count receives their number.
const MaterialPreset* materialPresets(int* count);
