// A batch of scenes: `tonwell-bake --batch LIST OUT_DIR` bakes every recipe a list file names,
// each into OUT_DIR/<recipe name>; scenes already up to date are skipped by the cache rule of one
// bake (bake_scene.h). Called by the baker's main; plain or on MPI ranks.
//
// On ranks, a list of two scenes or more goes out as whole scenes: scene i to rank i mod n, each
// baked by its rank alone with its own worker processes (one by default). A scene's units keep
// only as many ranks busy as it has units, and its serial stages (meshing, assembly, the
// transfer's preparation, the Rayleigh-Ritz step) and its longest unit bound its time whatever
// the number of ranks, so many scenes side by side use many cores far better than one scene
// after another on all of them (the README's projection: a 100-object batch on 64 cores). A
// single scene is baked with its units spread over all ranks (scene_on_ranks.h).
//
// Every recipe is read and checked first (by rank 0): a bad one is reported once, with the list
// file's line, before any scene is baked. A scene that fails while baking does not stop the
// others: the batch goes on, then reports every failure (one message each, naming the recipe and
// the unit), and the baker exits with status 1. A failed scene leaves no folder (its previous
// one, if any, as it was); the others are whole, and a second run skips them.
#pragma once

#include <string>
#include <vector>

#include "tools/bake/bake_scene.h"

// The recipe paths of the list file at `listPath`: one per line, relative to the list file's
// folder unless absolute; blank lines and lines starting with # (after spaces) are skipped,
// surrounding spaces trimmed. Throws BakeError "LIST:LINE: ..." when the list cannot be read or
// names no recipe.
std::vector<std::string> readBatchList(const std::string& listPath);

// The outcome of a batch.
struct BatchSummary {
    int scenes = 0;   // in the list
    int baked = 0;    // scenes baked now
    int skipped = 0;  // already up to date
};

// Bakes the list's recipes into `outputDirectory`/<name> (see above). With `check`, bakes nothing
// and returns with summary.skipped the count of up-to-date scenes. Throws BakeError on a bad list
// or recipe (before any bake: two recipes with the same name included), and after the last scene
// when any failed (their messages, a line each).
BatchSummary bakeBatch(const std::string& listPath, const std::string& outputDirectory,
                       const BakeOptions& options, bool check);
