// A batch of scenes (see batch_bake.h).
#include "tools/bake/batch_bake.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/parallel/mpi_ranks.h"
#include "tools/bake/parallel/worker_processes.h"
#include "tools/bake/recipe/recipe.h"
#include "tools/bake/scene_on_ranks.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSceneOutcomeTag = 200;  // a rank's outcome of its whole scenes, to rank 0

// The failures' messages as one, a line each (the baker prints the first line's prefix).
std::string joinFailures(const std::vector<std::string>& failures) {
    std::string message = failures.front();
    for (size_t f = 1; f < failures.size(); ++f) message += "\ntonwell-bake: error: " + failures[f];
    return message;
}

// Whole scenes to ranks: scene i to rank i mod n (the list's order; no rank waits for another),
// each baked by its rank alone with its own worker processes (one unless --workers says more:
// the ranks are the cores). Every rank bakes all its scenes, whatever fails; rank 0 gathers the
// outcomes, prints the summary and throws the failures' messages, one line each.
BatchSummary bakeWholeScenes(const std::string& listPath, const std::string& outputDirectory,
                             const std::vector<Recipe>& recipes, const BakeOptions& options,
                             BatchSummary summary) {
    const int rank = worldRankIndex(), ranks = worldRankCount();
    BakeOptions sceneOptions = options;
    if (sceneOptions.workerCount == 0) sceneOptions.workerCount = 1;
    int baked = 0, skipped = 0;
    std::vector<std::string> failures;
    {
        RanksWorkAlone alone;
        for (size_t i = static_cast<size_t>(rank); i < recipes.size(); i += ranks) {
            const std::string output = (fs::path(outputDirectory) / recipes[i].name).string();
            try {
                if (bakeScene(recipes[i], output, sceneOptions))
                    ++baked;
                else
                    ++skipped;
            } catch (const BakeError& e) {
                failures.push_back(e.what());
            }
        }
    }
    if (rank != 0) {
        ByteWriter out;
        out.putInt(baked);
        out.putInt(skipped);
        out.putInt(static_cast<int64_t>(failures.size()));
        for (const std::string& f : failures) out.putString(f);
        sendToRank(0, kSceneOutcomeTag, out.take());
        return summary;
    }
    summary.baked += baked;
    summary.skipped += skipped;
    for (int waiting = ranks - 1; waiting > 0;) {
        int from = 0, tag = 0;
        std::string bytes;
        if (!receiveIfArrived(-1, kSceneOutcomeTag, &from, &tag, &bytes)) {
            usleep(2000);
            continue;
        }
        --waiting;
        ByteReader in(bytes);
        summary.baked += static_cast<int>(in.getInt());
        summary.skipped += static_cast<int>(in.getInt());
        for (int64_t f = in.getInt(); f > 0; --f) failures.push_back(in.getString());
    }
    if (!options.quiet)
        std::printf("tonwell-bake: batch %s: %d scenes baked, %d up to date, %d failed\n",
                    listPath.c_str(), summary.baked, summary.skipped,
                    static_cast<int>(failures.size()));
    if (!failures.empty()) throw BakeError(joinFailures(failures));
    return summary;
}

}  // namespace

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
    if (!check && rankCount() > 1 && recipes.size() >= 2)
        return bakeWholeScenes(listPath, outputDirectory, recipes, options, summary);
    std::vector<std::string> failures;
    for (const Recipe& recipe : recipes) {
        const std::string output = (fs::path(outputDirectory) / recipe.name).string();
        if (check) {
            summary.skipped += valueFromRankZero(rankIndex() == 0 &&
                                                 isUpToDate(output, bakeStamp(recipe, options)));
            continue;
        }
        try {
            if (bakeSceneOnRanks(recipe, output, options))
                ++summary.baked;
            else
                ++summary.skipped;
        } catch (const BakeError& e) {
            failures.push_back(e.what());  // on every rank alike; the next scene goes on
        }
    }
    if (!check && !options.quiet && rankIndex() == 0)
        std::printf("tonwell-bake: batch %s: %d scenes baked, %d up to date, %d failed\n",
                    listPath.c_str(), summary.baked, summary.skipped,
                    static_cast<int>(failures.size()));
    if (!failures.empty()) throw BakeError(joinFailures(failures));
    return summary;
}
