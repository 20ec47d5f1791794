// Text and SVG bake reports (see bake_report.h).
#include "tools/bake/output/bake_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/common/c_file.h"
#include "tools/bake/common/statistics.h"

namespace {

std::unique_ptr<FILE, FileCloser> create(const std::string& path) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file) throw BakeError(path + ": cannot open the file for writing");
    return file;
}

// x of mode `mode` (1-based) of `count` in a plot from `left` to `width - right`: the modes sit
// in the middle of equal slots, so that bars centred on them stay inside the plot.
double modeX(double mode, long count, double width, double left, double right) {
    return left + (width - left - right) * (mode - 0.5) / std::max(1L, count);
}

// One legend entry at (x, y): a swatch (a bar, a dot or a dashed line in `colour`) and its text.
// Returns the x where the next entry may start.
double legendEntry(FILE* f, double x, double y, const char* swatch, const char* colour,
                   const char* text) {
    const std::string kind = swatch;
    if (kind == "bar")
        std::fprintf(f, "<rect x=\"%.1f\" y=\"%.1f\" width=\"10\" height=\"10\" fill=\"%s\"/>\n", x,
                     y - 9, colour);
    else if (kind == "dot")
        std::fprintf(f, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>\n", x + 5, y - 4,
                     colour);
    else
        std::fprintf(f,
                     "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                     "stroke-dasharray=\"6 4\"/>\n",
                     x - 4, y - 4, x + 14, y - 4, colour);
    std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\">%s</text>\n", x + 18, y, text);
    // About 6.5 pixels per character of the 12-pixel sans-serif text, and a gap.
    return x + 18 + 6.5 * std::strlen(text) + 22;
}

// The lower plot: sources per mode (bars, left axis) and the fit and held-out errors in per cent
// (points, right axis) with the tolerance line; modes at the source cap or above the tolerance
// in red. A legend under the title names each mark.
const char* tierColour(char tier) {
    return tier == 'A' ? "#c8b090" : tier == 'B' ? "#8c6a3c" : tier == 'W' ? "#6a9c78" : "#90a8c8";
}

// The checks of the high-frequency tier: per checked mode, how far its stored field is from the
// reference solve's, in radiated power and in directivity averaged over 25 degree caps, with the
// 1.5 dB and 3 dB lines; modes whose check failed (and moved to the reference's tier) in red.
void writeCheckPanel(FILE* f, const BakeReport& r, double y0, double width, double left,
                     double right, double top, double bottom) {
    const long count = static_cast<long>(r.transfer.size());
    const double height = 300, plotTop = y0 + top, plotBottom = y0 + height - bottom;
    double scale = 4;
    for (const ModeTransferSummary& m : r.transfer)
        if (m.checked) scale = std::max({scale, std::abs(m.checkPower_dB), m.checkSmoothed_dB});
    scale = std::ceil(scale);
    auto xOf = [&](double mode) { return modeX(mode, count, width, left, right); };
    auto yOf = [&](double dB) { return plotBottom - (plotBottom - plotTop) * dB / scale; };
    std::fprintf(f,
                 "<text x=\"%.0f\" y=\"%.0f\" font-size=\"15\">tier C against reference boundary "
                 "element solves</text>\n",
                 left, y0 + 22);
    double legendX = left;
    legendX = legendEntry(f, legendX, y0 + 42, "dot", "#404040", "|radiated power| (dB)");
    legendX = legendEntry(f, legendX, y0 + 42, "dot", "#a050c0",
                          "directivity over 25 degree caps (dB RMS)");
    legendEntry(f, legendX, y0 + 42, "dot", "#d04040", "check failed: moved");
    for (int i = 0; i <= static_cast<int>(scale); ++i) {
        const double y = yOf(i);
        std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
                     left, y, width - right, y, i == 3 ? "#d04040" : "#e4e4e4");
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%d dB</text>\n", left - 6,
                     y + 4, i);
    }
    std::fprintf(f,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#404040\" "
                 "stroke-dasharray=\"6 4\"><title>1.5 dB</title></line>\n",
                 left, yOf(1.5), width - right, yOf(1.5));
    for (long j = 0; j < count; ++j) {
        const ModeTransferSummary& m = r.transfer[j];
        if (!m.checked) continue;
        const double x = xOf(j + 1);
        std::fprintf(f,
                     "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"><title>mode %ld: "
                     "power %+.2f dB</title></circle>\n",
                     x, yOf(std::abs(m.checkPower_dB)),
                     m.movedFromHighFrequency ? "#d04040" : "#404040", j + 1, m.checkPower_dB);
        std::fprintf(f,
                     "<rect x=\"%.1f\" y=\"%.1f\" width=\"7\" height=\"7\" fill=\"%s\"><title>mode "
                     "%ld: smoothed directivity %.2f dB RMS</title></rect>\n",
                     x - 3.5, yOf(m.checkSmoothed_dB) - 3.5,
                     m.movedFromHighFrequency ? "#d04040" : "#a050c0", j + 1, m.checkSmoothed_dB);
    }
    std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n",
                 left, plotBottom, width - right, plotBottom);
    std::fprintf(
        f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">mode number (1 to %ld)</text>\n",
        0.5 * (left + width - right), y0 + height - 15, count);
}

void writeTransferPanel(FILE* f, const BakeReport& r, double y0, double width, double left,
                        double right, double top, double bottom) {
    const long count = static_cast<long>(r.transfer.size());
    const double height = 420, plotTop = y0 + top, plotBottom = y0 + height - bottom;
    int maxSources = 1;
    double maxError = 0;
    for (const ModeTransferSummary& m : r.transfer) {
        maxSources = std::max(maxSources, m.sourceCount);
        maxError = std::max({maxError, m.fitError, m.heldOutError});
    }
    const double sourceScale = std::ceil(maxSources / 10.0) * 10.0;
    // Room above the larger of the worst error and the tolerance, so neither sits on the frame.
    const double errorScale =
        std::max(5.0, std::ceil(120.0 * std::max(maxError, r.transferTolerance) / 5.0) * 5.0);
    auto xOf = [&](double mode) { return modeX(mode, count, width, left, right); };
    auto ySources = [&](double n) { return plotBottom - (plotBottom - plotTop) * n / sourceScale; };
    auto yError = [&](double percent) {
        return plotBottom - (plotBottom - plotTop) * percent / errorScale;
    };
    std::fprintf(f, "<text x=\"%.0f\" y=\"%.0f\" font-size=\"15\">acoustic transfer</text>\n", left,
                 y0 + 22);
    double legendX = left;
    legendX = legendEntry(f, legendX, y0 + 42, "bar", tierColour('A'), "sources, tier A");
    legendX = legendEntry(f, legendX, y0 + 42, "bar", tierColour('B'), "B");
    legendX = legendEntry(f, legendX, y0 + 42, "bar", tierColour('C'), "C");
    legendX = legendEntry(f, legendX, y0 + 42, "bar", tierColour('W'), "W (left axis)");
    legendX = legendEntry(f, legendX, y0 + 42, "dot", "#2060c0", "fit error");
    legendEntry(f, legendX, y0 + 42, "dot", "#20a040", "held-out error (right axis, %)");
    legendX = legendEntry(f, left, y0 + 60, "line", "#2060c0", "tolerance of tiers A, B and W");
    legendEntry(f, legendX, y0 + 60, "bar", "#d04040", "at the source cap or above its tolerance");
    for (int i = 0; i <= 5; ++i) {
        const double y = plotBottom - (plotBottom - plotTop) * i / 5.0;
        std::fprintf(f,
                     "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n",
                     left, y, width - right, y);
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n", left - 6,
                     y + 4, sourceScale * i / 5.0);
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\">%g %%</text>\n", width - right + 6, y + 4,
                     errorScale * i / 5.0);
    }
    const double barWidth = std::max(1.0, 0.6 * (width - left - right) / std::max(1L, count));
    for (long j = 0; j < count; ++j) {
        const ModeTransferSummary& m = r.transfer[j];
        const double x = xOf(j + 1);
        std::fprintf(f,
                     "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\">"
                     "<title>mode %ld: %d sources%s</title></rect>\n",
                     x - barWidth / 2, ySources(m.sourceCount), barWidth,
                     plotBottom - ySources(m.sourceCount),
                     m.reachedCap || m.aboveTolerance ? "#d04040" : tierColour(m.tier), j + 1,
                     m.sourceCount,
                     m.reachedCap       ? " (cap)"
                     : m.aboveTolerance ? " (above)"
                                        : "");
        std::fprintf(f,
                     "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#2060c0\"><title>mode %ld: "
                     "fit error %.2f %%</title></circle>\n",
                     x, yError(100 * m.fitError), j + 1, 100 * m.fitError);
        std::fprintf(f,
                     "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#20a040\"><title>mode %ld: "
                     "held-out error %.2f %%</title></circle>\n",
                     x, yError(100 * m.heldOutError), j + 1, 100 * m.heldOutError);
    }
    const double tolerancePercent = 100.0 * r.transferTolerance;
    std::fprintf(f,
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2060c0\" "
                 "stroke-dasharray=\"6 4\"><title>tolerance %g %%</title></line>\n",
                 left, yError(tolerancePercent), width - right, yError(tolerancePercent),
                 tolerancePercent);
    std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n",
                 left, plotBottom, width - right, plotBottom);
    std::fprintf(
        f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">mode number (1 to %ld)</text>\n",
        0.5 * (left + width - right), y0 + height - 15, count);
}

// The loudness section: the force unit folded into ".U" and, per struck vertex, the preset
// strike's peak in "ZEP" and "Modal" mono at that unit.
void writeLoudness(FILE* f, const LoudnessCalibration& c) {
    std::fprintf(f, "\nloudness:\n");
    std::fprintf(f, "  force unit: %.6g N per unit of the program's force (%s)\n", c.forceUnit,
                 c.automatic           ? "auto"
                 : c.presetsCalibrated ? "kept; the presets' impact magnitude is calibrated"
                                       : "fixed by the recipe");
    std::fprintf(f,
                 "  \".U\" holds the mass-normalised mode shapes (U^T M U = I) times the force "
                 "unit\n");
    if (!c.calibrated) {
        std::fprintf(f, "  no preset strike: the scene's name chooses none of the program's\n");
        return;
    }
    const PresetStrike& s = c.strike;
    std::fprintf(f,
                 "  preset strike: magnitude %g for %d samples, modal force gain %g, Rayleigh "
                 "alpha %g 1/s, beta %g s\n",
                 s.magnitude, s.durationSamples, s.forceGain, s.massDamping, s.stiffnessDamping);
    std::fprintf(
        f, "  listener: the start camera's eye (%.4f, %.4f, %.4f) m, object at (%g, %g, %g)\n",
        s.eye.x(), s.eye.y(), s.eye.z(), s.objectOrigin.x(), s.objectOrigin.y(),
        s.objectOrigin.z());
    if (c.automatic || c.presetsCalibrated)
        std::fprintf(f, "  target: median ZEP peak %.1f dBFS\n", c.target_dBFS);
    if (c.presetsCalibrated)
        std::fprintf(f,
                     "  the presets' impact magnitude %.6g puts the median there; the Modal gain "
                     "%.6g makes the Modal median equal it\n",
                     s.magnitude, s.modalRendererGain);
    const StrikeLoudness& l = c.atUnitForce;
    std::fprintf(f, "  struck vertex   ZEP peak       Modal peak\n");
    for (size_t v = 0; v < l.vertices.size(); ++v)
        std::fprintf(f, "  %13d %9.3f dBFS %9.3f dBFS\n", l.vertices[v],
                     peakToDbfs(c.forceUnit * l.zepPeaks[v]),
                     peakToDbfs(c.forceUnit * l.modalPeaks[v]));
    std::fprintf(f, "  %13s %9.3f dBFS %9.3f dBFS\n", "median",
                 peakToDbfs(c.forceUnit * l.zepMedian), peakToDbfs(c.forceUnit * l.modalMedian));
    std::fprintf(f, "  Modal / ZEP (medians): %.3g (%+.1f dB)\n", l.modalMedian / l.zepMedian,
                 peakToDbfs(l.modalMedian / l.zepMedian));
}

}  // namespace

namespace {

// The wave tier's part of report.txt: one line per chord (what it was for, its grid, steps,
// modes, the sinusoid fit's condition number and worst residual, its time and throughput), then
// the tier's checks: the overlap with tier A and the finer grid, as the share of modes within the
// targets and the worst.
void writeWaveTierText(FILE* f, const BakeReport& r) {
    if (r.chords.empty()) return;
    std::fprintf(f,
                 "  tier W, wave equation: %zu chords (W stored modes, O the overlap with tier A, "
                 "F the finer grid)\n"
                 "    chord role        grid      h mm  steps  modes  band Hz        condition  "
                 "residual    run s    fit s  cell updates/s\n",
                 r.chords.size());
    for (size_t c = 0; c < r.chords.size(); ++c) {
        const ChordStatistics& s = r.chords[c].statistics;
        double low = 1e300, high = 0, residual = 0;
        for (size_t j = 0; j < s.modes.size(); ++j) {
            low = std::min(low, r.transfer[size_t(s.modes[j])].frequency);
            high = std::max(high, r.transfer[size_t(s.modes[j])].frequency);
            if (j < s.residuals.size()) residual = std::max(residual, s.residuals[j]);
        }
        std::fprintf(f,
                     "    %5zu    %c  %4dx%4dx%4d %6.2f %6lld %6zu  %5.0f-%5.0f %11.3g %8.2e %8.1f "
                     "%8.1f %11.3g\n",
                     c + 1, static_cast<char>(r.chords[c].role), s.gridCells[0], s.gridCells[1],
                     s.gridCells[2], 1000 * s.h, static_cast<long long>(s.steps), s.modes.size(),
                     low, high, s.conditionNumber, residual, s.seconds, r.chords[c].fitSeconds,
                     s.cellUpdatesPerSecond);
    }
    char sphere[64];
    std::snprintf(sphere, sizeof sphere, "sphere of radius %.2f m", r.comparisonRadius);
    auto summarise = [&](const char* what, const char* where, bool ModeTransferSummary::*checked,
                         double ModeTransferSummary::*power, double ModeTransferSummary::*point) {
        int count = 0, tight = 0, loose = 0;
        double worstPower = 0, worstPoint = 0;
        for (const ModeTransferSummary& m : r.transfer) {
            if (!(m.*checked)) continue;
            ++count;
            const double p = std::abs(m.*power), q = m.*point;
            tight += p <= 0.5 && q <= 1.5 ? 1 : 0;
            loose += p <= 1.0 && q <= 3.0 ? 1 : 0;
            worstPower = std::max(worstPower, p);
            worstPoint = std::max(worstPoint, q);
        }
        if (count == 0) return;
        std::fprintf(f,
                     "  %s on %d modes (%s): power within 0.5 dB and point "
                     "by point within 1.5 dB RMS on %d (%.0f %%), within 1 dB and 3 dB on %d "
                     "(%.0f %%); worst power %.2f dB, worst point by point %.2f dB RMS\n",
                     what, count, where, tight, 100.0 * tight / count, loose, 100.0 * loose / count,
                     worstPower, worstPoint);
    };
    summarise("tier W against tier A", sphere, &ModeTransferSummary::overlapChecked,
              &ModeTransferSummary::overlapPower_dB, &ModeTransferSummary::overlapPoint_dB);
    summarise("tier W's samples before its fit against tier A", "the held-out points",
              &ModeTransferSummary::overlapChecked, &ModeTransferSummary::overlapSampledPower_dB,
              &ModeTransferSummary::overlapSampledPoint_dB);
    summarise("tier W's and tier A's samples before their fits", "the held-out points",
              &ModeTransferSummary::overlapUnfittedChecked,
              &ModeTransferSummary::overlapUnfittedPower_dB,
              &ModeTransferSummary::overlapUnfittedPoint_dB);
    summarise("tier W against its grid sqrt(2) finer", sphere,
              &ModeTransferSummary::convergenceChecked, &ModeTransferSummary::convergencePower_dB,
              &ModeTransferSummary::convergencePoint_dB);
    summarise("the same two runs' samples before their fits", "the held-out points",
              &ModeTransferSummary::convergenceChecked, &ModeTransferSummary::sampledPower_dB,
              &ModeTransferSummary::sampledPoint_dB);
}

// The transfer part of report.txt: the plan, per tier the sources and the worst errors, the
// checks of the high-frequency tier, then one line per mode.
void writeTransferText(FILE* f, const BakeReport& r) {
    std::fprintf(f, "\nacoustic transfer (%s):\n", r.transferSettings.c_str());
    std::fprintf(f, "  plan: %s\n", r.transferPlan.c_str());
    std::fprintf(f,
                 "  object size %.3g m (k D = 2 pi f / c x size); %d groups, %zu chords; surfaces, "
                 "near fields and visibility %.1f s, the groups and chords %.1f s of worker "
                 "time\n",
                 r.objectSize, r.transferGroupCount, r.chords.size(), r.preparationSeconds,
                 r.unitSeconds);
    const std::vector<std::pair<char, const char*>> tiers = {
        {'A', "A, dense boundary elements"},
        {'B', "B, compressed boundary elements"},
        {'C', "C, high-frequency approximation (errors against its smoothed field)"},
        {'W', "W, wave equation"}};
    for (const auto& [tier, name] : tiers) {
        int count = 0, maxSources = 0, totalSources = 0;
        double worstFit = 0, worstHeldOut = 0, low = 0, high = 0;
        for (const ModeTransferSummary& m : r.transfer) {
            if (m.tier != tier) continue;
            if (count == 0) low = m.frequency;
            high = m.frequency;
            ++count;
            maxSources = std::max(maxSources, m.sourceCount);
            totalSources += m.sourceCount;
            worstFit = std::max(worstFit, m.fitError);
            worstHeldOut = std::max(worstHeldOut, m.heldOutError);
        }
        if (count == 0) continue;
        std::fprintf(
            f,
            "  tier %s: %d modes, %.0f to %.0f Hz; sources %.1f mean, %d max; fit error up "
            "to %.2f %%, held-out error up to %.2f %%\n",
            name, count, low, high, double(totalSources) / count, maxSources, 100 * worstFit,
            100 * worstHeldOut);
    }
    // Checks: the stored high-frequency field against a reference boundary element solve.
    std::vector<double> power, smoothed, point, modelPower, modelSmoothed, modelPoint;
    std::string moved;
    int powerWithin = 0;
    for (size_t j = 0; j < r.transfer.size(); ++j) {
        const ModeTransferSummary& m = r.transfer[j];
        if (!m.checked) continue;
        power.push_back(std::abs(m.checkPower_dB));
        smoothed.push_back(m.checkSmoothed_dB);
        point.push_back(m.checkPoint_dB);
        modelPower.push_back(std::abs(m.modelPower_dB));
        modelSmoothed.push_back(m.modelSmoothed_dB);
        modelPoint.push_back(m.modelPoint_dB);
        powerWithin += std::abs(m.checkPower_dB) <= 1.5 ? 1 : 0;
        if (m.movedFromHighFrequency) moved += " " + std::to_string(j + 1);
    }
    if (!power.empty()) {
        const auto largest = [](const std::vector<double>& v) {
            return *std::max_element(v.begin(), v.end());
        };
        std::fprintf(f,
                     "  tier C checked against a reference boundary element solve on %zu modes: "
                     "radiated power within 1.5 dB on %d (%.0f %%), at most %.2f dB off; "
                     "directivity averaged over 25 degree caps %.2f dB RMS median, %.2f dB worst; "
                     "point by point %.2f dB RMS median, %.2f dB worst\n",
                     power.size(), powerWithin, 100.0 * powerWithin / power.size(), largest(power),
                     median(smoothed), largest(smoothed), median(point), largest(point));
        std::fprintf(
            f,
            "  the model before smoothing and fitting: power at most %.2f dB off, smoothed "
            "directivity %.2f dB worst, point by point %.2f dB RMS median\n",
            largest(modelPower), largest(modelSmoothed), median(modelPoint));
        std::fprintf(f, "  modes moved from tier C to the reference's tier (check failed):%s\n",
                     moved.empty() ? " none" : moved.c_str());
    }
    writeWaveTierText(f, r);
    std::string capped, above;
    for (size_t j = 0; j < r.transfer.size(); ++j) {
        if (r.transfer[j].reachedCap) capped += " " + std::to_string(j + 1);
        if (r.transfer[j].aboveTolerance) above += " " + std::to_string(j + 1);
    }
    std::fprintf(f, "  modes at the source cap:%s\n", capped.empty() ? " none" : capped.c_str());
    std::fprintf(f, "  modes above their tolerance (fit or held out):%s\n",
                 above.empty() ? " none" : above.c_str());
    std::fprintf(f,
                 "  mode    frequency  fitted at tier elements sources  fit err  held-out  GMRES"
                 "  unit s   check: power  smoothed  point (dB)   wave tier check: power  point "
                 "(dB)\n");
    for (size_t j = 0; j < r.transfer.size(); ++j) {
        const ModeTransferSummary& m = r.transfer[j];
        char check[96] = "";
        if (m.checked)
            std::snprintf(check, sizeof check, "  %+12.2f %9.2f %6.2f%s", m.checkPower_dB,
                          m.checkSmoothed_dB, m.checkPoint_dB,
                          m.movedFromHighFrequency ? "  moved from C" : "");
        else if (m.overlapChecked || m.convergenceChecked)
            std::snprintf(check, sizeof check, "%37s %+6.2f %6.2f  (%s)", "",
                          m.overlapChecked ? m.overlapPower_dB : m.convergencePower_dB,
                          m.overlapChecked ? m.overlapPoint_dB : m.convergencePoint_dB,
                          m.overlapChecked ? "against A" : "finer grid");
        std::fprintf(f,
                     "  %4zu %10.2f Hz %9.2f    %c %8d %7d %7.2f %% %7.2f %% %6d %7.1f%s%s%s%s\n",
                     j + 1, m.frequency, m.fitFrequency, m.tier, m.elementCount, m.sourceCount,
                     100 * m.fitError, 100 * m.heldOutError, m.gmresIterations, m.seconds, check,
                     m.reachedCap       ? "  cap"
                     : m.aboveTolerance ? "  above"
                                        : "",
                     m.bemConverged ? "" : "  not converged", "");
    }
}

}  // namespace

void writeReportText(const std::string& path, const BakeReport& r) {
    auto file = create(path);
    FILE* f = file.get();
    std::fprintf(f, "tonwell-bake report: %s (recipe %s)\n\n", r.sceneName.c_str(),
                 r.recipePath.c_str());
    std::fprintf(f, "material: E = %.4g Pa, nu = %.4g, rho = %.4g kg/m^3\n", r.youngsModulus,
                 r.poissonRatio, r.density);
    std::fprintf(f, "surface: %d vertices, %d triangles\n", r.surfaceVertexCount,
                 r.surfaceTriangleCount);
    std::fprintf(f, "volume mesh: %d nodes, %d %s tetrahedra\n", r.nodeCount, r.tetCount,
                 r.quadratic ? "quadratic" : "linear");
    std::fprintf(f, "volume %.6g m^3, mass %.6g kg\n", r.volume, r.mass);
    std::fprintf(f,
                 "eigen solve: %d slices, %d Lanczos steps, %d factorisations, largest relative "
                 "residual %.2g; six rigid modes dropped (largest %.3g Hz, residual outside the "
                 "rigid motions %.2g)\n",
                 r.iterations, r.operations, r.factorisations, r.largestResidual,
                 r.largestRigidFrequency, r.rigidResidual);
    double total = 0.0;
    std::fprintf(f, "\nstage times:\n");
    for (const auto& [stage, seconds] : r.stageSeconds) {
        std::fprintf(f, "  %-12s %8.2f s\n", stage.c_str(), seconds);
        total += seconds;
    }
    std::fprintf(f, "  %-12s %8.2f s\n", "total", total);
    const long count = static_cast<long>(r.frequencies.size());
    std::fprintf(f, "\n%ld modes", count);
    if (count > 0)
        std::fprintf(f, ", %.2f Hz to %.2f Hz", r.frequencies(0), r.frequencies(count - 1));
    std::fprintf(f, ":\n");
    for (long j = 0; j < count; ++j) std::fprintf(f, "  %4ld %12.3f Hz\n", j + 1, r.frequencies(j));
    if (!r.transfer.empty()) writeTransferText(f, r);
    if (!r.objectPresets.empty())
        std::fprintf(f, "\npresets (%s, computed from the object):\n%s", "presets.json",
                     r.objectPresets.c_str());
    writeLoudness(f, r.loudness);
    if (!r.notes.empty()) std::fprintf(f, "\nnotes:\n");
    for (const std::string& note : r.notes) std::fprintf(f, "  %s\n", note.c_str());
    if (std::ferror(f)) throw BakeError(path + ": writing the report failed");
}

void writeReportSvg(const std::string& path, const BakeReport& r) {
    auto file = create(path);
    FILE* f = file.get();
    // The right margin holds the lower plot's error axis ("25 %").
    const double width = 760, panel = 420, left = 70, right = 60, top = 40, bottom = 50;
    const bool withTransfer = !r.transfer.empty();
    const bool withChecks = std::any_of(r.transfer.begin(), r.transfer.end(),
                                        [](const ModeTransferSummary& m) { return m.checked; });
    const double totalHeight = (withTransfer ? 2 * panel : panel) + (withChecks ? 300 : 0);
    const double height = panel;
    const long count = static_cast<long>(r.frequencies.size());
    double fMin = 1.0, fMax = 10.0;
    if (count > 0) {
        fMin = std::max(1.0, r.frequencies.minCoeff());
        fMax = std::max(fMin * 1.01, r.frequencies.maxCoeff());
    }
    const double decadeLow = std::floor(std::log10(fMin)), decadeHigh = std::ceil(std::log10(fMax));
    auto xOf = [&](double mode) { return modeX(mode, count, width, left, right); };
    auto yOf = [&](double hz) {
        const double t =
            (std::log10(std::max(hz, 1e-9)) - decadeLow) / std::max(1.0, decadeHigh - decadeLow);
        return height - bottom - (height - top - bottom) * t;
    };
    std::fprintf(f,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "font-family=\"sans-serif\" font-size=\"12\">\n",
                 width, totalHeight);
    std::fprintf(f, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    std::fprintf(f,
                 "<text x=\"%.0f\" y=\"22\" font-size=\"15\">%s: %ld vibration modes, %d surface "
                 "vertices, %d tetrahedra</text>\n",
                 left, r.sceneName.c_str(), count, r.surfaceVertexCount, r.tetCount);
    for (double d = decadeLow; d <= decadeHigh; d += 1.0) {
        for (int m = 1; m < 10; ++m) {
            const double hz = m * std::pow(10.0, d);
            if (hz > std::pow(10.0, decadeHigh) * 1.0001) break;
            const double y = yOf(hz);
            std::fprintf(f,
                         "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
                         left, y, width - right, y, m == 1 ? "#999" : "#e4e4e4");
            if (m == 1)
                std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g Hz</text>\n",
                             left - 6, y + 4, hz);
        }
    }
    std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n",
                 left, height - bottom, width - right, height - bottom);
    for (long j = 0; j < count; ++j)
        std::fprintf(f,
                     "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#b5651d\"><title>mode %ld: "
                     "%.2f Hz</title></circle>\n",
                     xOf(j + 1), yOf(r.frequencies(j)), j + 1, r.frequencies(j));
    std::fprintf(
        f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">mode number (1 to %ld)</text>\n",
        0.5 * (left + width - right), height - 15, count);
    // The lower plot's title and two legend lines need a deeper top margin.
    if (withTransfer) writeTransferPanel(f, r, panel, width, left, right, top + 32, bottom);
    if (withChecks) writeCheckPanel(f, r, 2 * panel, width, left, right, top + 16, bottom);
    std::fprintf(f, "</svg>\n");
    if (std::ferror(f)) throw BakeError(path + ": writing the report plot failed");
}
