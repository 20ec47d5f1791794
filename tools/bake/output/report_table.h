// The per-mode table of a baked scene's "report.txt" read back as columns: each mode's transfer
// tier, sources, fit and held-out errors and the checks the baker ran on it. The exporter copies
// it into the exported files; a reader of scene folders may use it the same way. The text is what
// bake_report.cpp writes; the values carry the report's own rounding (errors to 0.01 %, dB to
// 0.01, seconds to 0.1).
#pragma once

#include <string>
#include <vector>

struct ReportTable {
    // One entry per table row, in mode order (mode j + 1 in row j).
    std::vector<int> mode;                     // 1-based mode number
    std::vector<double> frequency_Hz;          // the mode's own frequency
    std::vector<double> fitFrequency_Hz;       // its group's, at which the sources were fitted
    std::string tier;                          // 'A', 'B', 'C' or 'W', one character per mode
    std::vector<int> elements;                 // boundary elements of tiers A and B (0 otherwise)
    std::vector<int> sources;                  // point sources of the fit
    std::vector<double> fitError_percent;      // on the fit's sample points
    std::vector<double> heldOutError_percent;  // on the held-out points farther out
    std::vector<int> gmresIterations;
    std::vector<double> unitSeconds;  // the group's unit, shared by its modes
    // Tier C checks against a reference solve: power, smoothed directivity and point by point
    // differences in dB; NaN for a mode that was not checked.
    std::vector<double> checkPower_dB, checkSmoothed_dB, checkPoint_dB;
    // The wave tier's checks: power and point by point differences in dB against tier A ('A') or
    // against a finer grid ('F'); NaN and ' ' for a mode without one.
    std::vector<double> waveCheckPower_dB, waveCheckPoint_dB;
    std::string waveCheckAgainst;
    // The row's flags: at the source cap, above the tolerance, moved from tier C by a failed
    // check, boundary element solve converged.
    std::vector<unsigned char> atSourceCap, aboveTolerance, movedFromHighFrequency, converged;

    int rowCount() const { return static_cast<int>(mode.size()); }
};

// Reads the table that follows the line starting "  mode    frequency  fitted at" in the text
// `reportText`; rows end at the first line that is not a row. `fileName` names the report in
// messages.
// Returns "" and fills `table` (cleared first), also when the report has no table (a bake without
// transfer: zero rows); otherwise one message "<fileName>:<line>: <problem>" for a row that
// starts like one but cannot be read, or for rows whose mode numbers do not run 1, 2, 3, ...
std::string parseReportTable(const std::string& reportText, const std::string& fileName,
                             ReportTable* table);
