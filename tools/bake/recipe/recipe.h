// A scene recipe: everything tonwell-bake needs to make one scene folder, read from a small JSON
// file. Example (the bell):
//   { "name": "bell",
//     "shape": { "kind": "bell", "lipDiameter": 0.66, "height": 0.55, "lipY": -0.30,
//                "profileSpacing": 0.012, "ringSpacing": 0.025, "fixtures": true },
//     "material": { "name": "bronze", "youngsModulus": 1.0e11, "poissonRatio": 0.34,
//                   "density": 8600, "diffuse": [0.7, 0.5, 0.2], ... },
//     (or "material": "bronze", a name of the built-in table, material_table.h, whose entry
//      fills every field the object does not give: { "name": "steel", "density": 7900 }),
//     "tetrahedra": { "maxVolume": 2e-7, "radiusEdgeRatio": 1.4, "order": 2 },
//     "modes": { "count": 40, "maxFrequency": 20000 },
//     "transfer": { "tolerance": 0.05, "maxSources": 80, "elementsPerWavelength": 6,
//                   "minElements": 800, "maxElements": 3000, "hmatrixMaxElements": 16000,
//                   "highFrequencyKD": 25,
//                   "check": { "modesPerOctave": 5, "maxElements": 24000 } },
//     "forceUnit": "auto", "strikePeak_dBFS": -12 }
// Shape kinds: "bell" (procedural, with the fixtures), "chair" (union of boxes on a grid), "mesh"
// (any OBJ or PLY file, wrapped, simplified and placed; "source" is relative to the recipe file;
// with "wrap": false the mesh is taken as the surface as it is, vertices and all, and must already
// be a closed, outward, manifold surface that does not intersect itself).
// Tetrahedra are quadratic (order 2) unless the recipe asks for linear ones (order 1).
// "forceUnit" is the newtons per unit of the program's force, folded into the written ".U": a
// positive number, or "auto" for the unit that puts the program's preset strike at the start
// camera at "strikePeak_dBFS" (median over ten vertices; -12 when not given;
// loudness_calibration.h). Without it the unit is 1 N.
// A scene not named bell, chair or dragon gets presets computed from the object (camera, damping,
// impact, gains: object_presets.h), written as "presets.json"; its damping is the material's
// "massDamping" (Rayleigh alpha, 1/s) and "stiffnessDamping" (beta, s), from the table or given.
// For such a scene "forceUnit": "auto" keeps the unit at 1 N and calibrates the preset impact
// magnitude to "strikePeak_dBFS" instead.
#pragma once

#include <Eigen/Core>
#include <string>

#include "tools/bake/modes/material.h"
#include "tools/bake/modes/solve_modes.h"
#include "tools/bake/surface/bell_shape.h"
#include "tools/bake/surface/box_union.h"
#include "tools/bake/surface/tet_mesh.h"
#include "tools/bake/surface/wrap_surface.h"
#include "tools/bake/transfer/multipole/transfer_settings.h"

enum class ShapeKind { bell, chair, mesh };

// Bounds a recipe is held to before any long stage: past them the baker would run out of memory
// or time, or make what the program cannot play.
constexpr int kMaxRecipeModes = 10000;  // the most modes the audio block runs in real time
                                        // (the block benchmark: 10,000 modes with 20 sources each
                                        // take 40 % of a block)
constexpr double kMaxRecipeFrequency_Hz = 22050.0;  // Nyquist frequency of the 44100 Hz output
constexpr double kMaxSurfaceTriangles = 2e6;        // struck surface; TetGen and the eigen solve of
                                                    // what fills it must fit in memory
constexpr double kMaxGridCells = 5e7;               // the chair's grid, one byte a cell
constexpr double kMaxTetrahedra = 3e6;        // about 13 million degrees of freedom, quadratic
constexpr double kMinRelativeAlpha = 1e-3;    // alpha wrapping's work grows as 1 / alpha^2
constexpr int kMaxRecipeSources = 10000;      // sources per mode in the fit
constexpr int kMaxRecipeFitPoints = 1000000;  // pressure samples of the fit and the check
constexpr double kMaxForceUnit_N = 1e6;       // newtons per unit of the program's force

// How loud the program plays the scene: the recipe's "forceUnit" and "strikePeak_dBFS".
struct LoudnessOptions {
    bool automatic = false;          // "forceUnit": "auto"
    double forceUnit = 1.0;          // N per unit of the program's force, when given as a number
    double strikePeak_dBFS = -12.0;  // target median peak of the preset strike (automatic only)
};

struct Recipe {
    std::string path;  // the recipe file, for messages
    std::string text;  // its bytes, part of the cache key
    std::string name;  // file stem of every data file: "<name>.obj", "<name>.U", ...
    ShapeKind shape = ShapeKind::mesh;
    BellParameters bell;
    bool bellFixtures = true;
    BoxGridOptions chairGrid;
    std::string sourceMesh;  // resolved path of the mesh to wrap
    bool wrapMesh = true;    // false ("wrap": false): the mesh is the surface as it is, and must be
                             // closed, manifold, outward and free of self-intersections
    WrapOptions wrap;
    double placementLength = 0.0;  // m; largest extent after scaling (0: keep the source's units)
    Eigen::Vector3d placementCenter = Eigen::Vector3d::Zero();  // bounding box centre goes here
    Material material;
    std::string materialName = "default";
    bool hasDamping = false;        // the material's Rayleigh damping is known (table or recipe)
    double massDamping = 0.0;       // alpha, 1/s
    double stiffnessDamping = 0.0;  // beta, s
    Eigen::Vector3d ambient{0.2, 0.2, 0.2}, diffuse{0.6, 0.6, 0.6}, specular{0.0, 0.0, 0.0};
    double shininess = 65.0 / 0.128;  // MTL scale
    TetMeshOptions tetrahedra;
    ModeSolveOptions modes;
    TransferSettings transfer;  // the "transfer" object
    LoudnessOptions loudness;
};

// Reads and checks the recipe at `path`. Throws BakeError naming the file and the field on a
// missing or malformed field (a count that is not a whole number, a value that is not finite), an
// unknown shape kind, a material with E <= 0, nu outside (-1, 0.5) or rho <= 0, an unknown
// material name without its constants, a scene with computed presets whose material has no
// damping, a resolution or count past the bounds above, or a band above 22050 Hz.
Recipe readRecipe(const std::string& path);

// True for the names of the demo's own scenes (bell, chair, dragon), which keep their fixed
// presets and get no presets file.
bool isBuiltInScene(const std::string& name);

// The same for recipe text held in memory that stands for the file `path` (relative mesh sources
// resolve from its folder; messages name it). The command line's recipe is read this way before
// it is written.
Recipe readRecipeText(const std::string& text, const std::string& path);

// The name of the transfer object list the demo expects: "<name>-ZEPObjectsList-<pp>.txt" with pp
// the tolerance in per cent, two digits ("bell-ZEPObjectsList-05.txt" for 0.05).
std::string transferListName(const Recipe& recipe);

// The acoustic settings as one line of text, for the cache key and the report.
