// The recipe tonwell-bake makes from its command line (--mesh FILE --material NAME [--size M]
// [--band HZ | --modes N]) for a user's own object: a mesh shape wrapped and placed, a material of
// the built-in table, tetrahedra and a wrapped surface fine enough for the band, and the transfer
// settings of the demo's full-band recipes. main() writes it into the output folder as
// "recipe.json" and bakes it; rebaking from that file gives the same folder.
//
// Resolution, for the band's top f (the default band when only a mode count is given):
//   tetrahedra: edge h = min(c_s / (3 f), L / 8), c_s = sqrt(mu / rho) the shear wave speed and L
//     the object's largest extent: three quadratic elements per shear wavelength (the shortest
//     wave of a solid's volume), and at least eight across the object (small objects, whose modes
//     lie high, stay quick); TetGen's volume bound is the regular tetrahedron's h^3 / (6 sqrt 2);
//   surface: triangles of the same edge h, and at least 1.25 times the boundary elements the
//     transfer needs at six per acoustic wavelength below the high-frequency tier (k L < 20).
// A band whose meshes would pass what one bake can hold (kMaxCommandLineTetrahedra,
// kMaxCommandLineSurfaceVertices) has fewer elements per wavelength than that at its top and is
// refused before anything is baked, with the highest band the object can carry.
#pragma once

#include <string>

#include "tools/bake/recipe/recipe.h"

// The band baked when the command line gives neither --band nor --modes, Hz.
constexpr double kDefaultCommandLineBand_Hz = 10000.0;
// What one command-line bake may hold. TetGen's volume bound alone asks for volume / maxVolume
// tetrahedra; the meshes come out larger (a 4 m steel ring meshed for 20 kHz: 1.7 times, 487,875
// quadratic tetrahedra, 2 million degrees of freedom, whose sparse factorisation ran out of the
// development machine's 23 GB), so the bound below keeps a bake near 170,000 tetrahedra, 700,000
// degrees of freedom. Small objects are made of their surface's tetrahedra (the 0.2 m steel ring:
// 7,138 where the bound asks for 500). The wrapped surface's cap keeps the alpha wrap and the
// transfer's surfaces to seconds.
constexpr double kMaxCommandLineTetrahedra = 100000.0;
constexpr int kMaxCommandLineSurfaceVertices = 16000;
// Quadratic tetrahedra per shear wavelength at the band's top, at least.
constexpr double kTetrahedraPerShearWavelength = 3.0;
// The extents (m) a mesh without --size may have; past them its units are probably not metres.
constexpr double kSmallestPlausibleObject_m = 0.01, kLargestPlausibleObject_m = 5.0;

struct CommandLineRecipeOptions {
    std::string meshFile;      // OBJ or PLY, optionally gzipped
    std::string materialName;  // a name of the built-in table (material_table.h)
    double size_m = 0.0;       // the largest extent after placement; 0: the mesh's own, in metres
    double band_Hz = 0.0;      // every mode below this; 0: not given
    int modeCount = 0;         // the lowest modeCount modes (within the default band); 0: not given
};

// The recipe's JSON text for `options`, baking into `outputFolder` (whose base name is the scene's
// name and must be a plain file stem other than bell, chair and dragon). Reads the mesh to place
// and size it. Throws BakeError naming the option or the file: an unknown material (listing the
// known ones), a folder name that cannot be a scene's, a mesh that cannot be read, a mesh whose
// size without --size is implausible as metres, or a band the object's meshes cannot carry.
// Precondition: band_Hz in (0, 22050] or 0, modeCount in [0, 10000], size_m >= 0.
std::string commandLineRecipe(const CommandLineRecipeOptions& options,
                              const std::string& outputFolder);

// The path of the recipe file kept in `outputFolder`: "<outputFolder>/recipe.json".
std::string commandLineRecipePath(const std::string& outputFolder);
