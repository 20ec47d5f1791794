// One scene's bake on several MPI ranks (see scene_on_ranks.h).
#include "tools/bake/scene_on_ranks.h"

#include "tools/bake/common/bake_error.h"
#include "tools/bake/parallel/mpi_ranks.h"
#include "tools/bake/parallel/worker_processes.h"

Recipe readRecipeOnRanks(const std::string& path, const std::function<Recipe()>& read) {
    const auto readIt = [&] { return read ? read() : readRecipe(path); };
    if (rankCount() == 1) return readIt();
    // Rank 0's verdict first: "" or the error's message.
    std::string problem;
    Recipe recipe;
    if (rankIndex() == 0) {
        try {
            recipe = readIt();
        } catch (const BakeError& e) {
            problem = e.what();
            if (problem.empty()) problem = path + ": bad recipe";
        }
    }
    problem = broadcastFromRankZero(problem);
    if (!problem.empty()) throw BakeError(problem);
    if (rankIndex() != 0) recipe = readIt();
    return recipe;
}

int valueFromRankZero(int value) {
    if (rankCount() == 1) return value;
    ByteWriter out;
    out.putInt(value);
    const std::string bytes = broadcastFromRankZero(out.take());
    ByteReader in(bytes);
    return static_cast<int>(in.getInt());
}

bool bakeSceneOnRanks(const Recipe& recipe, const std::string& outputFolder,
                      const BakeOptions& options) {
    if (rankCount() == 1) return bakeScene(recipe, outputFolder, options);
    const bool upToDate =
        valueFromRankZero(rankIndex() == 0 && !options.force &&
                          isUpToDate(outputFolder, bakeStamp(recipe, options))) != 0;
    if (upToDate) {
        if (rankIndex() == 0 && !options.quiet)
            std::printf("tonwell-bake: %s is up to date\n", outputFolder.c_str());
        return false;
    }
    BakeOptions rankOptions = options;
    rankOptions.force = true;  // decided above, by rank 0
    if (rankIndex() != 0) {
        rankOptions.quiet = true;
        rankOptions.writesFolder = false;
    }
    return bakeScene(recipe, outputFolder, rankOptions);
}
