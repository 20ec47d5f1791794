// The report's per-mode table read back from what the real report writer prints: each column and
// flag of a mode of every kind (tier A plain, a tier C mode checked and moved, one checked and
// kept, a wave tier mode of the finer-grid check at the source cap, a tier A mode of the overlap
// above its tolerance and not converged), and rows that break the table's rules.
#include "tools/bake/output/report_table.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/bake/output/zip_test_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/bake/output/bake_report.h"

namespace {

std::vector<ModeTransferSummary> fiveModes() {
    std::vector<ModeTransferSummary> modes(5);
    modes[0].frequency = 100.25;
    modes[0].fitFrequency = 100.5;
    modes[0].elementCount = 1714;
    modes[0].sourceCount = 12;
    modes[0].fitError = 0.0412;
    modes[0].heldOutError = 0.0333;
    modes[0].gmresIterations = 41;
    modes[0].seconds = 8.6;

    modes[1].frequency = 2124.36;
    modes[1].fitFrequency = 2124.58;
    modes[1].tier = 'B';
    modes[1].elementCount = 12048;
    modes[1].sourceCount = 52;
    modes[1].checked = modes[1].movedFromHighFrequency = true;
    modes[1].checkPower_dB = 1.26;
    modes[1].checkSmoothed_dB = 5.62;
    modes[1].checkPoint_dB = 11.68;

    modes[2].frequency = 2526.68;
    modes[2].tier = 'C';
    modes[2].sourceCount = 4;
    modes[2].checked = true;
    modes[2].checkPower_dB = -1.15;
    modes[2].checkSmoothed_dB = 1.66;
    modes[2].checkPoint_dB = 4.21;

    modes[3].frequency = 5000.0;
    modes[3].tier = 'W';
    modes[3].sourceCount = 269;
    modes[3].reachedCap = true;
    modes[3].convergenceChecked = true;
    modes[3].convergencePower_dB = -0.42;
    modes[3].convergencePoint_dB = 1.37;

    modes[4].frequency = 5100.0;
    modes[4].sourceCount = 30;
    modes[4].fitError = 0.21;
    modes[4].aboveTolerance = true;
    modes[4].bemConverged = false;
    modes[4].overlapChecked = true;
    modes[4].overlapPower_dB = 0.5;
    modes[4].overlapPoint_dB = 2.25;
    return modes;
}

}  // namespace

TEST(ReportTable, ReadsBackEveryColumnTheReportWriterPrints) {
    TempDir dir;
    BakeReport report;
    report.sceneName = "bell";
    report.transfer = fiveModes();
    report.frequencies.resize(5);
    for (int j = 0; j < 5; ++j) report.frequencies[j] = report.transfer[j].frequency;
    writeReportText(dir.file("report.txt"), report);

    ReportTable t;
    ASSERT_EQ(parseReportTable(readFileBytes(dir.file("report.txt")), "report.txt", &t), "");
    ASSERT_EQ(t.rowCount(), 5);
    EXPECT_EQ(t.tier, "ABCWA");
    EXPECT_EQ(t.mode, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_DOUBLE_EQ(t.frequency_Hz[0], 100.25);
    EXPECT_DOUBLE_EQ(t.fitFrequency_Hz[0], 100.5);
    EXPECT_EQ(t.elements[0], 1714);
    EXPECT_EQ(t.sources[3], 269);
    EXPECT_DOUBLE_EQ(t.fitError_percent[0], 4.12);
    EXPECT_DOUBLE_EQ(t.heldOutError_percent[0], 3.33);
    EXPECT_EQ(t.gmresIterations[0], 41);
    EXPECT_DOUBLE_EQ(t.unitSeconds[0], 8.6);

    // Tier C checks on modes 2 and 3 only; mode 2 moved.
    EXPECT_DOUBLE_EQ(t.checkPower_dB[1], 1.26);
    EXPECT_DOUBLE_EQ(t.checkSmoothed_dB[1], 5.62);
    EXPECT_DOUBLE_EQ(t.checkPoint_dB[2], 4.21);
    EXPECT_DOUBLE_EQ(t.checkPower_dB[2], -1.15);
    for (int j : {0, 3, 4}) EXPECT_TRUE(std::isnan(t.checkPower_dB[j])) << j;
    EXPECT_EQ(t.movedFromHighFrequency, (std::vector<unsigned char>{0, 1, 0, 0, 0}));

    // The wave tier's checks: mode 4 against the finer grid, mode 5 against tier A.
    EXPECT_EQ(t.waveCheckAgainst, "   FA");
    EXPECT_DOUBLE_EQ(t.waveCheckPower_dB[3], -0.42);
    EXPECT_DOUBLE_EQ(t.waveCheckPoint_dB[3], 1.37);
    EXPECT_DOUBLE_EQ(t.waveCheckPower_dB[4], 0.5);
    EXPECT_DOUBLE_EQ(t.waveCheckPoint_dB[4], 2.25);
    for (int j : {0, 1, 2}) EXPECT_TRUE(std::isnan(t.waveCheckPower_dB[j])) << j;

    EXPECT_EQ(t.atSourceCap, (std::vector<unsigned char>{0, 0, 0, 1, 0}));
    EXPECT_EQ(t.aboveTolerance, (std::vector<unsigned char>{0, 0, 0, 0, 1}));
    EXPECT_EQ(t.converged, (std::vector<unsigned char>{1, 1, 1, 1, 0}));
}

TEST(ReportTable, BrokenRowsAreNamedByFileAndLine) {
    const std::string header =
        "title\n  mode    frequency  fitted at tier elements sources  fit err  held-out  GMRES\n";
    const std::string row1 =
        "     1     165.92 Hz    165.92    A      298       5   11.99 %    4.03 %     44     0.2\n";
    const std::string row3 =
        "     3     250.17 Hz    250.17    A      298      14   14.99 %    5.57 %     38     0.2\n";
    ReportTable t;
    EXPECT_EQ(parseReportTable(header + row1 + row3, "r.txt", &t),
              "r.txt:4: mode 3 where mode 2 was expected");
    EXPECT_EQ(parseReportTable(header + row1 + "     2     oops\n", "r.txt", &t),
              "r.txt:4: a row of the per-mode transfer table cannot be read");
    // A report without a transfer table has no rows, and rows end at the first other line.
    EXPECT_EQ(parseReportTable("no table here\n", "r.txt", &t), "");
    EXPECT_EQ(t.rowCount(), 0);
    EXPECT_EQ(parseReportTable(header + row1 + "\nloudness:\n", "r.txt", &t), "");
    EXPECT_EQ(t.rowCount(), 1);
}
