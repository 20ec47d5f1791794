// A whole scene's acoustic transfer, group by group (see bake_transfer.h).
#include "tools/bake/bake_transfer.h"

#include <cmath>

#include "tools/bake/transfer_stage.h"

std::vector<std::vector<int>> groupCloseFrequencies(const Eigen::VectorXd& frequencies,
                                                    double relativeWidth) {
    std::vector<std::vector<int>> groups;
    for (int i = 0; i < frequencies.size(); ++i) {
        if (groups.empty() ||
            frequencies(i) > frequencies(groups.back().front()) * (1.0 + relativeWidth))
            groups.emplace_back();
        groups.back().push_back(i);
    }
    return groups;
}

SceneTransfer computeSceneTransfer(const BemSurface& surface, const Eigen::MatrixXd& normalVelocity,
                                   const Eigen::VectorXd& frequencies,
                                   const AcousticOptions& options,
                                   const std::function<void(int, int)>& progress) {
    TransferSettings settings;
    settings.tolerance = options.tolerance;
    settings.maxSources = options.maxSources;
    settings.fitPointCount = options.fitPointCount;
    settings.heldOutPointCount = options.heldOutPointCount;

    const int modeCount = static_cast<int>(frequencies.size());
    SceneTransfer scene;
    scene.files.resize(modeCount);
    scene.summaries.resize(modeCount);
    const auto groups = groupCloseFrequencies(frequencies, options.groupWidth);
    scene.groupCount = static_cast<int>(groups.size());
    int done = 0;
    for (const std::vector<int>& group : groups) {
        Eigen::MatrixXd velocity(normalVelocity.rows(), group.size());
        double meanHz = 0;
        for (size_t j = 0; j < group.size(); ++j) {
            velocity.col(j) = normalVelocity.col(group[j]);
            meanHz += frequencies(group[j]) / group.size();
        }
        const std::vector<ModeTransfer> results =
            computeModeTransfers(surface, velocity, 2.0 * M_PI * meanHz, settings);
        scene.bemSeconds += results.front().bemSeconds;
        for (size_t j = 0; j < group.size(); ++j) {
            const ModeTransfer& t = results[j];
            const int mode = group[j];
            scene.files[mode] = {t.sources, t.waveNumber};
            ModeTransferSummary& s = scene.summaries[mode];
            s.frequency = frequencies(mode);
            s.fitFrequency = meanHz;
            s.sourceCount = static_cast<int>(t.sources.cols());
            s.fitError = t.fitError;
            s.heldOutError = t.heldOutError;
            s.reachedCap = t.reachedCap;
            s.aboveTolerance = t.aboveTolerance;
            s.bemConverged = t.bemConverged;
            s.gmresIterations = t.gmresIterations;
            scene.fitSeconds += t.fitSeconds;
        }
        done += static_cast<int>(group.size());
        if (progress) progress(done, modeCount);
    }
    return scene;
}
