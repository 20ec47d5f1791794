// The transfer settings in words (see transfer_settings.h).
#include "tools/bake/transfer/multipole/transfer_settings.h"

#include <cmath>
#include <cstdio>

#include "tools/bake/common/physical_constants.h"

std::string describeTransferSettings(const TransferSettings& t) {
    char text[768];
    std::snprintf(
        text, sizeof text,
        "tolerance %g, at least %d sources allowed, %g elements per wavelength from %d, "
        "dense up to %d, compressed up to %d, high-frequency from k D = %g%s (fit "
        "tolerance %g), groups of %g relative width, at least %d fit and %d held-out "
        "points, checks %g per octave at %g elements per wavelength up to %d, wave tier %s "
        "at %g cells per wavelength (order %d, %s boundary), overlap %g octaves, %d modes on a "
        "finer grid",
        t.tolerance, t.maxSources, t.elementsPerWavelength, t.minElements, t.maxElements,
        t.hmatrixMaxElements, t.highFrequencyKD,
        t.highFrequencyFirst ? " before any other tier" : "", t.highFrequencyTolerance,
        t.groupWidth, t.fitPointCount, t.heldOutPointCount, t.checkModesPerOctave,
        t.checkElementsPerWavelength, t.checkMaxElements, t.waveTier ? "on" : "off",
        t.waveCellsPerWavelength, t.waveSpatialOrder, t.waveCutCells ? "cut-cell" : "staircase",
        t.waveOverlapOctaves, t.waveConvergenceModes);
    return text;
}

double elementsNeeded(double area, double frequency, double perWavelength) {
    const double side = kSpeedOfSound_ms / frequency / perWavelength;
    return area / (std::sqrt(3.0) / 4.0 * side * side);
}
