// Reading the per-mode table of report.txt back into columns (see report_table.h). The row layout
// is bake_report.cpp's: mode, frequency "Hz", fitted at, tier, elements, sources, fit error "%",
// held-out error "%", GMRES iterations, unit seconds, then optionally the tier C check (three dB
// values, "moved from C") or the wave tier's check (two dB values and "(against A)" or
// "(finer grid)"), then the flags "cap", "above" and "not converged".
#include "tools/bake/output/report_table.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char* kHeaderStart = "  mode    frequency  fitted at";

bool isNumber(const std::string& word, double* value) {
    char* end = nullptr;
    *value = std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0';
}

// Reads one row into the table's columns; "" or what is wrong with it.
std::string readRow(const std::string& line, ReportTable* t) {
    std::istringstream words(line);
    int mode = 0, elements = 0, sources = 0, gmres = 0;
    double frequency = 0, fitFrequency = 0, fitError = 0, heldOut = 0, seconds = 0;
    std::string hz, percent1, percent2;
    char tier = 0;
    if (!(words >> mode >> frequency >> hz >> fitFrequency >> tier >> elements >> sources >>
          fitError >> percent1 >> heldOut >> percent2 >> gmres >> seconds) ||
        hz != "Hz" || percent1 != "%" || percent2 != "%") {
        return "a row of the per-mode transfer table cannot be read";
    }
    std::vector<std::string> rest;
    for (std::string word; words >> word;) rest.push_back(word);

    double checkPower = kNaN, checkSmoothed = kNaN, checkPoint = kNaN;
    double wavePower = kNaN, wavePoint = kNaN;
    char against = ' ';
    bool cap = false, above = false, moved = false, converged = true;
    std::vector<double> numbers;
    for (size_t i = 0; i < rest.size(); ++i) {
        double value = 0;
        if (isNumber(rest[i], &value)) {
            numbers.push_back(value);
        } else if (rest[i] == "(against") {
            against = 'A';
        } else if (rest[i] == "(finer") {
            against = 'F';
        } else if (rest[i] == "moved") {
            moved = true;
        } else if (rest[i] == "cap") {
            cap = true;
        } else if (rest[i] == "above") {
            above = true;
        } else if (rest[i] == "not") {
            converged = false;
        }
    }
    if (against != ' ') {
        if (numbers.size() != 2) return "a wave tier check without its two values";
        wavePower = numbers[0];
        wavePoint = numbers[1];
    } else if (!numbers.empty()) {
        if (numbers.size() != 3) return "a tier C check without its three values";
        checkPower = numbers[0];
        checkSmoothed = numbers[1];
        checkPoint = numbers[2];
    }
    t->mode.push_back(mode);
    t->frequency_Hz.push_back(frequency);
    t->fitFrequency_Hz.push_back(fitFrequency);
    t->tier.push_back(tier);
    t->elements.push_back(elements);
    t->sources.push_back(sources);
    t->fitError_percent.push_back(fitError);
    t->heldOutError_percent.push_back(heldOut);
    t->gmresIterations.push_back(gmres);
    t->unitSeconds.push_back(seconds);
    t->checkPower_dB.push_back(checkPower);
    t->checkSmoothed_dB.push_back(checkSmoothed);
    t->checkPoint_dB.push_back(checkPoint);
    t->waveCheckPower_dB.push_back(wavePower);
    t->waveCheckPoint_dB.push_back(wavePoint);
    t->waveCheckAgainst.push_back(against);
    t->atSourceCap.push_back(cap);
    t->aboveTolerance.push_back(above);
    t->movedFromHighFrequency.push_back(moved);
    t->converged.push_back(converged);
    return "";
}

}  // namespace

std::string parseReportTable(const std::string& reportText, const std::string& fileName,
                             ReportTable* table) {
    *table = ReportTable();
    std::istringstream lines(reportText);
    bool inTable = false;
    int lineNumber = 0;
    for (std::string line; std::getline(lines, line);) {
        ++lineNumber;
        if (!inTable) {
            inTable = line.rfind(kHeaderStart, 0) == 0;
            continue;
        }
        // A row starts with its mode number; anything else ends the table.
        std::istringstream first(line);
        int mode = 0;
        if (!(first >> mode)) break;
        const std::string where = fileName + ":" + std::to_string(lineNumber) + ": ";
        const std::string problem = readRow(line, table);
        if (!problem.empty()) return where + problem;
        if (mode != table->rowCount()) {
            return where + "mode " + std::to_string(mode) + " where mode " +
                   std::to_string(table->rowCount()) + " was expected";
        }
    }
    return "";
}
