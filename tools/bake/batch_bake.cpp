// A batch of scenes (see batch_bake.h).
#include "tools/bake/batch_bake.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "tools/bake/bake_error.h"
#include "tools/bake/mpi_ranks.h"
#include "tools/bake/recipe.h"
#include "tools/bake/scene_on_ranks.h"

namespace fs = std::filesystem;

std::vector<std::string> readBatchList(const std::string& listPath) {
    std::ifstream in(listPath);
    if (!in) throw BakeError(listPath + ": cannot open the batch list");
    const fs::path folder = fs::path(listPath).parent_path();
    std::vector<std::string> recipes;
    std::string line;
    while (std::getline(in, line)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        const size_t last = line.find_last_not_of(" \t\r");
        const fs::path path = line.substr(first, last - first + 1);
        recipes.push_back(path.is_absolute() ? path.string() : (folder / path).string());
    }
    if (recipes.empty()) throw BakeError(listPath + ":1: the batch list names no recipe");
    return recipes;
}

BatchSummary bakeBatch(const std::string& listPath, const std::string& outputDirectory,
                       const BakeOptions& options, bool check) {
    // The list and every recipe, checked by rank 0 before any work.
    std::vector<std::string> paths;
    std::string problem;
    if (rankIndex() == 0) {
        try {
            paths = readBatchList(listPath);
        } catch (const BakeError& e) {
            problem = e.what();
        }
    }
    problem = broadcastFromRankZero(problem);
    if (!problem.empty()) throw BakeError(problem);
    if (rankIndex() != 0) paths = readBatchList(listPath);
    std::vector<Recipe> recipes;
    std::map<std::string, std::string> byName;
    for (const std::string& path : paths) {
        recipes.push_back(readRecipeOnRanks(path));
        const auto [place, fresh] = byName.emplace(recipes.back().name, path);
        if (!fresh)
            throw BakeError(path + ": the batch already has a scene named \"" + place->first +
                            "\" (" + place->second + "); each bakes into " + outputDirectory +
                            "/<name>");
    }
    BatchSummary summary;
    summary.scenes = static_cast<int>(recipes.size());
    for (const Recipe& recipe : recipes) {
        const std::string output = (fs::path(outputDirectory) / recipe.name).string();
        if (check) {
            summary.skipped += valueFromRankZero(rankIndex() == 0 &&
                                                 isUpToDate(output, bakeStamp(recipe, options)));
            continue;
        }
        if (bakeSceneOnRanks(recipe, output, options))
            ++summary.baked;
        else
            ++summary.skipped;
    }
    if (!check && !options.quiet && rankIndex() == 0)
        std::printf("tonwell-bake: batch %s: %d scenes baked, %d up to date\n", listPath.c_str(),
                    summary.baked, summary.skipped);
    return summary;
}
