// Tiers, shared surfaces, checks and costs of a scene's transfer (see transfer_plan.h).
#include "tools/bake/transfer/transfer_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/physical_constants.h"
#include "tools/bake/transfer/bem/bem_solve.h"

namespace {

constexpr double kLadderRatio = 1.4;

double waveNumberOf(double frequency) { return 2 * kPi * frequency / kSpeedOfSound_ms; }

// Estimated seconds of one core for one group, measured on the development machine: dense
// assembly and GMRES grow as N^2 (a matrix row per element, a product per iteration), the
// compressed solve about as N, the high-frequency model as its subdivided surface, so f^2.
double estimatedCost(TransferTier tier, int elements, int fields, double frequency) {
    const double n = elements;
    switch (tier) {
        case TransferTier::dense:
            return n * n * (3e-7 + 2.5e-7 * fields) + 0.5 * fields;
        case TransferTier::hmatrix:
            return n * (5e-4 + 2e-4 * fields) + 0.5 * fields;
        case TransferTier::highFrequency:
            break;
        case TransferTier::wave:
            return 0;
    }
    return fields * (0.1 + 0.3 * std::pow(frequency / 8000.0, 2));
}

std::string hertz(double frequency) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f Hz", frequency);
    return text;
}

}  // namespace

int meshLadderStep(int needed, int minElements) {
    double step = minElements;
    while (step < needed) step *= kLadderRatio;
    return static_cast<int>(std::lround(step));
}

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

TransferPlan planSceneTransfer(const Eigen::VectorXd& frequencies, double area, double objectSize,
                               int surfaceTriangles, const TransferSettings& options,
                               const std::string& recipePath) {
    TransferPlan plan;
    plan.objectSize = objectSize;
    std::map<int, int> meshIndex;
    auto meshFor = [&](int target) {
        const auto found = meshIndex.find(target);
        if (found != meshIndex.end()) return found->second;
        const int index = static_cast<int>(plan.meshTargets.size());
        plan.meshTargets.push_back(target);
        meshIndex[target] = index;
        return index;
    };
    double lastChecked = 0;
    for (const std::vector<int>& modes : groupCloseFrequencies(frequencies, options.groupWidth)) {
        TransferGroupPlan group;
        group.modes = modes;
        for (int m : modes) group.frequency += frequencies(m) / modes.size();
        const int fields = static_cast<int>(modes.size());
        const int needed = static_cast<int>(std::ceil(std::max<double>(
            options.minElements,
            elementsNeeded(area, group.frequency, options.elementsPerWavelength))));
        const double kD = waveNumberOf(group.frequency) * objectSize;
        const bool highFrequency = options.highFrequencyKD > 0 && kD >= options.highFrequencyKD;
        // A surface too coarse for a group sends it to the wave tier, where there is one.
        const bool denseFits = needed <= options.maxElements &&
                               (highFrequency || !options.waveTier || needed <= surfaceTriangles);
        if (!highFrequency && !options.waveTier && needed > surfaceTriangles) {
            std::ostringstream message;
            message << recipePath << ": the modes at " << hertz(group.frequency) << " need "
                    << needed << " boundary elements (" << options.elementsPerWavelength
                    << " per wavelength), but the surface has only " << surfaceTriangles
                    << " triangles; make the surface finer, or let the wave tier take them "
                       "(\"transfer.wave\")";
            throw BakeError(message.str());
        }
        if (denseFits && !(highFrequency && options.highFrequencyFirst)) {
            group.tier = TransferTier::dense;
            const int target =
                std::min(meshLadderStep(needed, options.minElements), options.maxElements);
            group.mesh = meshFor(target);
            group.cost = estimatedCost(group.tier, target, fields, group.frequency);
        } else if (highFrequency) {
            group.tier = TransferTier::highFrequency;
            group.cost = estimatedCost(group.tier, 0, fields, group.frequency);
            // A few modes per octave are checked against a reference solve, where affordable.
            const int reference = static_cast<int>(std::ceil(std::max<double>(
                options.minElements,
                elementsNeeded(area, group.frequency, options.checkElementsPerWavelength))));
            const bool affordable =
                reference <= options.maxElements ||
                (options.hmatrixMaxElements > 0 && reference <= options.checkMaxElements);
            const bool due = lastChecked == 0 || std::log2(group.frequency / lastChecked) >=
                                                     1.0 / options.checkModesPerOctave;
            if (options.checkModesPerOctave > 0 && affordable && due) {
                group.checked = true;
                lastChecked = group.frequency;
                const int target = meshLadderStep(reference, options.minElements);
                group.referenceTier =
                    reference <= options.maxElements ? TransferTier::dense : TransferTier::hmatrix;
                const int cap = group.referenceTier == TransferTier::dense
                                    ? options.maxElements
                                    : options.checkMaxElements;
                group.referenceMesh = meshFor(std::min(target, cap));
                group.cost += estimatedCost(group.referenceTier, std::min(target, cap), fields,
                                            group.frequency);
            }
        } else if (options.waveTier) {
            group.tier = TransferTier::wave;
        } else if (options.hmatrixMaxElements > 0 && needed <= options.hmatrixMaxElements) {
            group.tier = TransferTier::hmatrix;
            const int target =
                std::min(meshLadderStep(needed, options.minElements), options.hmatrixMaxElements);
            group.mesh = meshFor(target);
            group.cost = estimatedCost(group.tier, target, fields, group.frequency);
        } else {
            std::ostringstream message;
            message << recipePath << ": \"transfer.maxElements\": the modes at "
                    << hertz(group.frequency) << " need " << needed
                    << " boundary elements, more than the dense (" << options.maxElements
                    << ") and the compressed (" << options.hmatrixMaxElements
                    << ") solvers take, and lie below the high-frequency threshold (k D = " << kD
                    << " < \"transfer.highFrequencyKD\" " << options.highFrequencyKD
                    << "); let the wave tier take them (\"transfer.wave\"), raise "
                       "\"transfer.hmatrixMaxElements\" or lower \"modes.maxFrequency\"";
            throw BakeError(message.str());
        }
        plan.groups.push_back(group);
    }
    return plan;
}

void checkTransferSettings(const TransferSettings& options, double maxFrequency, double area,
                           double objectSize, int surfaceTriangles, double memoryBytes, int workers,
                           const std::string& recipePath) {
    // The highest frequency that needs a boundary element solve: the band's top, or just below
    // the high-frequency threshold.
    // (A recipe that asks for a number of modes, not a band, is checked group by group once the
    // frequencies are known: planSceneTransfer.)
    // With the wave tier every group beyond tier A's reach goes to it: nothing to refuse.
    double top = options.waveTier ? 0.0 : maxFrequency;
    if (options.highFrequencyKD > 0 && top > 0) {
        const double threshold =
            options.highFrequencyKD * kSpeedOfSound_ms / (2 * kPi * objectSize);
        top = std::min(top, threshold);
    }
    if (top > 0) {
        const double needed = std::max<double>(
            options.minElements, elementsNeeded(area, top, options.elementsPerWavelength));
        const int largest = std::max(options.maxElements, options.hmatrixMaxElements);
        if (needed > largest) {
            std::ostringstream message;
            message << recipePath << ": \"modes.maxFrequency\": modes up to " << hertz(top)
                    << " need " << std::lround(needed) << " boundary elements ("
                    << options.elementsPerWavelength << " per wavelength), more than "
                    << "\"transfer.maxElements\" (" << options.maxElements
                    << ") and \"transfer.hmatrixMaxElements\" (" << options.hmatrixMaxElements
                    << ") allow; lower the band, raise one of them, or let the wave tier take "
                       "over (\"transfer.wave\")";
            throw BakeError(message.str());
        }
        if (needed > surfaceTriangles) {
            std::ostringstream message;
            message << recipePath << ": \"modes.maxFrequency\": modes up to " << hertz(top)
                    << " need " << std::lround(needed)
                    << " boundary elements, but the surface has only " << surfaceTriangles
                    << " triangles; make the surface finer or lower the band";
            throw BakeError(message.str());
        }
    }
    // The largest dense matrix (8 bytes a complex entry from BemOptions' single-precision size
    // on), one per worker at a time.
    const double dense = double(options.maxElements) * options.maxElements *
                         (options.maxElements >= BemOptions().singlePrecisionFrom ? 8 : 16);
    if (dense * workers > 0.8 * memoryBytes) {
        std::ostringstream message;
        message << recipePath << ": \"transfer.maxElements\": " << options.maxElements
                << " elements need " << std::lround(dense * workers / 1e9)
                << " GB for the dense matrices of " << workers << " workers, more than the "
                << std::lround(memoryBytes / 1e9) << " GB this machine has";
        throw BakeError(message.str());
    }
    // Compressed matrices keep about 2,000 entries per row (measured on spheres at six elements
    // per wavelength), and twice that for the check's references.
    // (Tier B is not used beside the wave tier.)
    const int compressed = std::max(options.waveTier ? 0 : options.hmatrixMaxElements,
                                    options.highFrequencyKD > 0 ? options.checkMaxElements : 0);
    const double hmatrix = double(compressed) * 4000 * 16;
    if (compressed > 0 && hmatrix * workers > 0.8 * memoryBytes) {
        std::ostringstream message;
        message << recipePath << ": \"transfer.hmatrixMaxElements\": " << compressed
                << " elements need about " << std::lround(hmatrix * workers / 1e9)
                << " GB for the compressed matrices of " << workers << " workers, more than the "
                << std::lround(memoryBytes / 1e9) << " GB this machine has";
        throw BakeError(message.str());
    }
}

std::string describeTransferPlan(const TransferPlan& plan) {
    const std::vector<std::pair<TransferTier, const char*>> tiers = {
        {TransferTier::dense, "A (dense boundary elements)"},
        {TransferTier::hmatrix, "B (compressed boundary elements)"},
        {TransferTier::highFrequency, "C (high-frequency approximation)"},
        {TransferTier::wave, "W (wave equation)"}};
    std::ostringstream text;
    bool first = true;
    int checks = 0;
    for (const TransferGroupPlan& g : plan.groups) checks += g.checked ? 1 : 0;
    for (const auto& [tier, name] : tiers) {
        int count = 0;
        double low = 0, high = 0;
        for (const TransferGroupPlan& g : plan.groups) {
            if (g.tier != tier) continue;
            if (count == 0) low = g.frequency;
            high = g.frequency;
            count += static_cast<int>(g.modes.size());
        }
        if (count == 0) continue;
        text << (first ? "" : "; ") << "tier " << name << ": " << count << " modes, " << hertz(low)
             << " to " << hertz(high);
        first = false;
    }
    if (!plan.meshTargets.empty()) {
        text << "; boundary element surfaces of";
        std::vector<int> sizes = plan.meshTargets;
        std::sort(sizes.begin(), sizes.end());
        for (int s : sizes) text << " " << s;
        text << " elements";
    }
    if (checks > 0) text << "; " << checks << " tier C groups checked against a reference solve";
    return text.str();
}
