// The ZEP sampling-rate file: which files are accepted with which block size, and the exact
// report and exit of every bad one.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "sound/synthesis_state.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kRateReport =
    "^\n"
    "\\*{40}\n"
    "Error parsing the sampling rate\\.\n"
    "File \"ZEPSamplingRate\\.txt\" must be present in the main demo directory\\.\n"
    "It is a text file and should contain a single line of text, specifying the ZEP sampling "
    "rate\\.\n"
    "A good choice is 200, and the values must be within the 100 to 300 range\\.\n"
    "\\*{40}\n$";

void readRateWithStdoutOnStderr() {
    fflush(stdout);
    dup2(2, 1);
    readZepSamplingRate();
}

}  // namespace

TEST(ZepSamplingRate, AcceptedRatesSetTheBlockSize) {
    struct Case {
        const char* text;
        int rate, blockSize;
    };
    // 44100 / rate, truncated: 128 Hz gives 344 samples (344.53...).
    const Case cases[] = {{"200\n", 200, 220},
                          {"100", 100, 441},
                          {"300\n", 300, 147},
                          {"128\n", 128, 344},
                          {"250 and some words\n", 250, 176},
                          {"  \n\t+150", 150, 294}};
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("ZEPSamplingRate.txt", c.text);
        std::string output;
        inDirectory(dir.path(), [&] {
            testing::internal::CaptureStdout();
            readZepSamplingRate();
            fflush(stdout);
            output = testing::internal::GetCapturedStdout();
        });
        EXPECT_EQ(zepSamplingRate, c.rate) << c.text;
        EXPECT_EQ(blockSize, c.blockSize) << c.text;
        EXPECT_EQ(output, "ZEP sampling rate read from ZEPSamplingRate.txt : " +
                              std::to_string(c.rate) + "\n");
    }
}

TEST(ZepSamplingRateDeathTest, BadFilesPrintTheReportAndExitWithOne) {
    // Out of range on either side, zero and negative (no division happens), no number first,
    // and integers too large for an int, which must not wrap around into the range
    // (4294967496 is 200 modulo 2^32).
    const char* const badTexts[] = {"99\n",
                                    "301\n",
                                    "0\n",
                                    "-200\n",
                                    "",
                                    "abc 200\n",
                                    "rate=200\n",
                                    "4294967496\n",
                                    "99999999999999999999999\n"};
    for (const char* text : badTexts) {
        TempDir dir;
        dir.write("ZEPSamplingRate.txt", text);
        ScopedWorkingDirectory scope(dir.path());
        EXPECT_EXIT(readRateWithStdoutOnStderr(), testing::ExitedWithCode(1), kRateReport)
            << "file text: '" << text << "'";
    }
    TempDir empty;
    ScopedWorkingDirectory scope(empty.path());
    EXPECT_EXIT(readRateWithStdoutOnStderr(), testing::ExitedWithCode(1), kRateReport) << "no file";
}
