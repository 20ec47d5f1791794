// The wave tier's chords for a scene: the overlap with tier A is solved on the cells of the stored
// chord whose cells are largest, so that it measures the modes the tier stores where it solves
// them most coarsely, not on the finest grid of the band's top.
#include "tools/bake/transfer/scene_wave_chords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/bake/bake_test_support.h"
#include "tools/bake/common/physical_constants.h"

namespace {

TEST(SceneWaveChords, OverlapRunsOnTheCoarsestStoredChordsCells) {
    const SurfaceMesh sphere = makeIcosphere(2, 0.3, Eigen::Vector3d::Zero());
    // Tier A: 12 modes at 600-2000 Hz, a group each; the wave tier: 40 modes over two octaves,
    // 2.1-8.4 kHz, so its chords' grids differ by about a factor of two in cell size.
    const int denseCount = 12, waveCount = 40;
    Eigen::VectorXd frequencies(denseCount + waveCount);
    TransferPlan plan;
    for (int i = 0; i < denseCount; ++i) {
        frequencies(i) = 600.0 + 1400.0 * i / (denseCount - 1);
        TransferGroupPlan dense;
        dense.tier = TransferTier::dense;
        dense.modes = {i};
        dense.frequency = frequencies(i);
        plan.groups.push_back(dense);
    }
    TransferGroupPlan wave;
    wave.tier = TransferTier::wave;
    for (int i = 0; i < waveCount; ++i) {
        frequencies(denseCount + i) = 2100.0 * std::pow(4.0, double(i) / (waveCount - 1));
        wave.modes.push_back(denseCount + i);
    }
    wave.frequency = frequencies.tail(waveCount).mean();
    plan.groups.push_back(wave);
    TransferSettings settings;
    settings.waveTier = true;
    settings.waveOverlapOctaves = 1;
    settings.waveConvergenceModes = 0;

    const std::vector<WaveChordUnit> units = planWaveChords(plan, frequencies, sphere, settings);
    Eigen::Vector3d lower, upper;
    boundingBox(sphere, lower, upper);
    const double longestSide = (upper - lower).maxCoeff();
    // The cell size a unit's grid takes: ten cells per wavelength at its highest mode, or finer
    // where the unit's settings ask for more cells across the object.
    auto cellOf = [&](const WaveChordUnit& unit) {
        std::vector<double> hz;
        for (int m : unit.modes) hz.push_back(frequencies(m));
        return kSpeedOfSound_ms /
               (gridFrequency(hz, longestSide, unit.settings) * unit.settings.cellsPerWavelength);
    };
    double finest = 1e9, coarsest = 0;
    int overlapUnits = 0, overlapModes = 0;
    for (const WaveChordUnit& unit : units) {
        if (unit.role != ChordRole::transfer) continue;
        finest = std::min(finest, cellOf(unit));
        coarsest = std::max(coarsest, cellOf(unit));
    }
    ASSERT_GT(coarsest / finest, 1.5) << "the stored chords should span a range of grids";
    for (const WaveChordUnit& unit : units) {
        if (unit.role != ChordRole::overlap) continue;
        ++overlapUnits;
        overlapModes += int(unit.modes.size());
        // Ten cells per wavelength at 2 kHz would be 17 mm: the overlap takes the stored chords'
        // coarsest cells instead (rounded to a whole number of cells across the object).
        EXPECT_NEAR(cellOf(unit) / coarsest, 1.0, 0.02);
        for (int m : unit.modes) EXPECT_GE(frequencies(m), 1000.0);
    }
    EXPECT_GT(overlapUnits, 0);
    // Tier A's top octave: its modes from 1 kHz to 2 kHz (1109 Hz upwards, eight).
    EXPECT_EQ(overlapModes, 8);
}

}  // namespace
