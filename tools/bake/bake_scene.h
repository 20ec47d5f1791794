// The baking pipeline of one scene: surface -> tetrahedra -> assembly -> eigen solve ->
// transfer -> files.
// Writes into a temporary folder beside the output and renames it at the end, so a failed bake
// leaves no partial scene folder. Caches: a folder whose stamp matches the recipe and the baker
// is left alone.
//
// The acoustic transfer stage runs after the eigen solve on a ModalSurface (the struck object's
// surface with each mode's surface displacement and frequency), in tiers by the size of each
// mode's problem (transfer/transfer_stage.h, transfer/transfer_plan.h), and adds the transfer list
// and one ".sources" and ".k" file per mode to the same temporary folder, which holds the scene as
// <temporary>/<name> so that the list's prefixes ("<name>/<name>-transfer-MMM") resolve from the
// demo directory. The transfer settings are checked against the surface before the long stages.
#pragma once

#include <Eigen/Core>
#include <string>

#include "tools/bake/recipe/recipe.h"
#include "tools/bake/surface/surface_mesh.h"

// What the modal stages hand on: the struck object's outward surface (vertex i is OBJ vertex
// i + 1), the surface rows of the mass-normalised mode shapes (3N x r, row 3i + k = axis k of
// vertex i; metres per unit modal coordinate) and the frequencies (Hz, r).
struct ModalSurface {
    SurfaceMesh surface;
    Eigen::MatrixXd surfaceShapes;
    Eigen::VectorXd frequencies;
};

struct BakeOptions {
    bool force = false;         // bake even when the output is up to date
    bool quiet = false;         // no progress lines
    bool modesOnly = false;     // stop after the eigen solve: meshes, .U, .freq and the report,
                                // no acoustic transfer (for studies of the modes; not loadable)
    int workerCount = 0;        // worker processes of the eigen slices and the transfer (0: one
                                // per hardware thread)
    std::string bakerIdentity;  // part of the cache key: changes whenever the baker does
    bool writesFolder = true;   // false on the MPI ranks other than 0 (scene_on_ranks.h): they
                                // run the stages up to the transfer with rank 0, write nothing
};

// The struck object's closed surface as the recipe describes it (procedural, or wrapped and
// placed). Throws BakeError on bad input.
SurfaceMesh makeStruckSurface(const Recipe& recipe);

// The cache key of `recipe` (its bytes and its transfer settings) baked by the baker
// options.bakerIdentity, with or without the transfer (options.modesOnly), as text.
std::string bakeStamp(const Recipe& recipe, const BakeOptions& options);

// True when `outputFolder` holds a finished bake with the stamp `stamp`.
bool isUpToDate(const std::string& outputFolder, const std::string& stamp);

// Bakes `recipe` into `outputFolder` (replacing what is there) unless it is up to date.
// Returns false when nothing had to be done. Throws BakeError on any failure, after removing its
// temporary folder; the previous content of `outputFolder` is then left as it was.
bool bakeScene(const Recipe& recipe, const std::string& outputFolder, const BakeOptions& options);

// "<size>-<modification time in ns>" of the file `path` (following links), "" if it cannot be
// examined: the baker's identity for the cache, taken from its own executable.
std::string executableIdentity(const std::string& path);

// The name of the stamp file in a baked folder.
inline const char* kStampFileName = "bake-stamp.txt";
