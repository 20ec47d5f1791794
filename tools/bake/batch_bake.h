// A batch of scenes: `tonwell-bake --batch LIST OUT_DIR` bakes every recipe a list file names,
// each into OUT_DIR/<recipe name>, one after the other; scenes already up to date are skipped by
// the cache rule of one bake (bake_scene.h). Called by the baker's main; plain or on MPI ranks.
//
// On ranks, the scenes go one after the other and each scene's units are spread over all the
// ranks (scene_on_ranks.h), rather than whole scenes to single ranks: a scene's units already
// keep every rank busy while there are more units than ranks (a full-band bell has dozens), one
// scheduler serves both uses, and a failure stops one scene's work everywhere at once. The
// README's projection says where whole scenes per rank would win (many small scenes on many
// cores).
//
// Every recipe is read and checked first (by rank 0): a bad one is reported once, with the list
// file's line, before any scene is baked. A scene that fails while baking ends the batch with its
// message and a non-zero exit; the scenes baked before it are whole and stay (a second run skips
// them), later ones are not started.
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
// or recipe (before any bake: two recipes with the same name included) and on the first scene that
// fails.
BatchSummary bakeBatch(const std::string& listPath, const std::string& outputDirectory,
                       const BakeOptions& options, bool check);
