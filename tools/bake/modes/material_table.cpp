// The built-in material table (see material_table.h).
//
// Damping: a mode of angular frequency omega decays as exp(-c t / 2) with c = alpha + beta
// omega^2 (unit modal mass), so its time to -60 dB is T60 = 13.8 / c and its loss factor
// eta = c / omega. Bronze, wood and ceramic keep the values the demo's bell, chair and dragon were
// tuned with; the others are set to the loss factors handbooks give for each class of material
// (metals 1e-4 to 1e-3 at 1 kHz, glass about 1e-3, hard plastics 2e-2 to 5e-2):
//   material     T60 at 1 kHz   T60 at 5 kHz
//   steel         4.6 s          0.27 s
//   aluminium     5.4 s          0.34 s
//   brass         2.5 s          0.14 s
//   bronze        5.3 s          0.29 s
//   glass         2.2 s          0.17 s
//   ceramic       1.2 s          0.27 s
//   wood          0.05 s         2 ms
//   plastic       0.07 s         3.5 ms
#include "tools/bake/modes/material_table.h"

namespace {

const MaterialPreset kMaterialPresets[] = {
    // Structural steel: E 200 GPa, nu 0.29, rho 7850 kg/m^3.
    {"steel",
     {2.0e11, 0.29, 7850.0},
     1.0,
     5e-8,
     {0.12, 0.12, 0.13},
     {0.50, 0.52, 0.55},
     {0.80, 0.80, 0.80},
     600.0},
    // Aluminium alloy (6061): 69 GPa, 0.33, 2700 kg/m^3.
    {"aluminium",
     {6.9e10, 0.33, 2700.0},
     1.0,
     4e-8,
     {0.15, 0.15, 0.16},
     {0.72, 0.74, 0.76},
     {0.70, 0.70, 0.70},
     400.0},
    // Yellow brass: 100 GPa, 0.34, 8500 kg/m^3.
    {"brass",
     {1.0e11, 0.34, 8500.0},
     1.5,
     1e-7,
     {0.20, 0.16, 0.06},
     {0.78, 0.62, 0.25},
     {0.90, 0.85, 0.55},
     700.0},
    // Bell bronze: 100 GPa, 0.34, 8600 kg/m^3 (the bell's).
    {"bronze",
     {1.0e11, 0.34, 8600.0},
     0.75,
     4.68874e-8,
     {0.25, 0.18, 0.07},
     {0.70, 0.50, 0.20},
     {0.90, 0.80, 0.50},
     700.0},
    // Soda-lime glass: 72 GPa, 0.23, 2500 kg/m^3; a pale green.
    {"glass",
     {7.2e10, 0.23, 2500.0},
     3.0,
     8e-8,
     {0.05, 0.08, 0.08},
     {0.55, 0.75, 0.72},
     {0.90, 0.90, 0.90},
     900.0},
    // Porcelain-like ceramic: 70 GPa, 0.22, 2400 kg/m^3 (the dragon's); an ivory glaze.
    {"ceramic",
     {7.0e10, 0.22, 2400.0},
     10.0,
     4.2e-8,
     {0.18, 0.17, 0.15},
     {0.82, 0.79, 0.70},
     {0.50, 0.50, 0.50},
     800.0},
    // Wood as an isotropic stand-in: 12 GPa, 0.3, 700 kg/m^3 (the chair's).
    {"wood",
     {1.2e10, 0.30, 700.0},
     8.0,
     7e-6,
     {0.22, 0.14, 0.07},
     {0.60, 0.40, 0.22},
     {0.15, 0.12, 0.10},
     120.0},
    // A hard plastic (ABS): 2.3 GPa, 0.35, 1050 kg/m^3; a red moulding.
    {"plastic",
     {2.3e9, 0.35, 1050.0},
     40.0,
     4e-6,
     {0.20, 0.03, 0.03},
     {0.75, 0.12, 0.10},
     {0.40, 0.40, 0.40},
     200.0},
};

constexpr int kMaterialPresetCount = sizeof kMaterialPresets / sizeof kMaterialPresets[0];

}  // namespace

const MaterialPreset* findMaterialPreset(const std::string& name) {
    for (const MaterialPreset& preset : kMaterialPresets)
        if (name == preset.name) return &preset;
    return nullptr;
}

std::string materialPresetNames() {
    std::string names;
    for (const MaterialPreset& preset : kMaterialPresets)
        names += (names.empty() ? "" : ", ") + std::string(preset.name);
    return names;
}

const MaterialPreset* materialPresets(int* count) {
    *count = kMaterialPresetCount;
    return kMaterialPresets;
}
