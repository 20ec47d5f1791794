// One scene's bake on several MPI ranks (mpi_ranks.h): the decisions rank 0 takes for all of them
// (the recipe is valid, the folder is up to date or must be baked) and what it hands them (the
// modes every rank's transfer units start from). Every function is collective: all ranks call it
// at the same point. Run plainly (one rank) each does what the plain baker did.
//
// Rank 0 reads the recipe first, alone: a bad recipe is reported once, by rank 0, before any
// work, and every rank exits with status 1. The other ranks then read the same file (the recipe
// and the meshes it names must be on a file system all ranks see, as MPI jobs assume for their
// program). Every rank runs the stages up to the acoustic transfer itself (surface, tetrahedra,
// assembly: cheap next to the units, and the units' inputs are then at hand on every rank
// without being sent); the units are shared out (unit_scheduler.h); rank 0 alone calibrates the
// loudness, writes the folder (the temporary folder and the rename at the end) and prints.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <string>

#include "tools/bake/bake_scene.h"
#include "tools/bake/recipe/recipe.h"

// The recipe at `path`, read and checked by rank 0 first. Throws BakeError on every rank when it
// is bad (with the message on rank 0; the other ranks print nothing). `read`, when given, makes
// the recipe instead of reading the file (a recipe built from the command line, the same on every
// rank); `path` then only names it.
Recipe readRecipeOnRanks(const std::string& path, const std::function<Recipe()>& read = nullptr);

// Rank 0's `value` on every rank.
int valueFromRankZero(int value);

// bakeScene on every rank, rank 0 deciding whether the folder is up to date; the other ranks run
// quietly and write nothing (options.writesFolder false). Returns false when nothing had to be
// done. Throws BakeError as bakeScene does, on every rank, for a failure every rank sees (a stage
// that fails alike everywhere, a unit that failed).
bool bakeSceneOnRanks(const Recipe& recipe, const std::string& outputFolder,
                      const BakeOptions& options);
