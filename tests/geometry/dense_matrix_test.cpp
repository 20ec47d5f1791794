// The dense matrix reader and writer on real files: what loads, what is refused with which
// message, what the writer puts on disk and how it reports a file it cannot write, and the exits
// of the checking helpers.
#include "geometry/dense_matrix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

struct LoadResult {
    int status = -1;
    int rows = -7, columns = -7;
    double* elements = nullptr;
    std::string output;
};

LoadResult load(const std::string& fileName) {
    LoadResult r;
    testing::internal::CaptureStdout();
    r.status = loadDenseMatrix(fileName.c_str(), &r.rows, &r.columns, &r.elements);
    fflush(stdout);
    r.output = testing::internal::GetCapturedStdout();
    return r;
}

std::string fileBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readError(const std::string& fileName) {
    return "Error reading the matrix from disk file: " + fileName + ".\n";
}

// In a death test's child, sends standard output to standard error, which the test matches.
void stdoutToStderr() {
    fflush(stdout);
    dup2(2, 1);
}

void loadOrExitWithStdoutOnStderr(const std::string& fileName) {
    stdoutToStderr();
    int rows = 0;
    int columns = 0;
    double* elements = nullptr;
    loadDenseMatrixOrExit(fileName.c_str(), &rows, &columns, &elements);
}

}  // namespace

TEST(DenseMatrix, ElementsLieInColumnMajorOrder) {
    TempDir dir;
    // 2 x 3 matrix with element (i, j) = 10 i + j, stored column by column.
    const std::string name = dir.write("m.dat", denseMatrixBytes(2, 3, {0, 10, 1, 11, 2, 12}));
    LoadResult r = load(name);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
    ASSERT_EQ(r.rows, 2);
    ASSERT_EQ(r.columns, 3);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(r.elements[i + j * r.rows], 10.0 * i + j);
    free(r.elements);
}

TEST(DenseMatrix, NonFiniteValuesAndTrailingBytesPassThrough) {
    TempDir dir;
    std::string bytes = denseMatrixBytes(
        3, 1,
        {1.5, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()});
    bytes += "trailing garbage that is never read";
    LoadResult r = load(dir.write("m.dat", bytes));
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(r.rows, 3);
    ASSERT_EQ(r.columns, 1);
    EXPECT_EQ(r.elements[0], 1.5);
    EXPECT_TRUE(std::isinf(r.elements[1]));
    EXPECT_TRUE(std::isnan(r.elements[2]));
    free(r.elements);
}

TEST(DenseMatrix, EmptyMatricesLoad) {
    TempDir dir;
    for (auto shape : {std::pair<int, int>{0, 5}, {4, 0}, {0, 0}}) {
        LoadResult r =
            load(dir.write("empty.dat", denseMatrixBytes(shape.first, shape.second, {})));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(r.rows, shape.first);
        EXPECT_EQ(r.columns, shape.second);
        free(r.elements);
    }
}

TEST(DenseMatrix, MissingFileIsReportedByName) {
    TempDir dir;
    const std::string name = dir.file("nowhere.U");
    LoadResult r = load(name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Can't open input matrix file: " + name + ".\n");
}

TEST(DenseMatrix, ShortFilesAreReadErrors) {
    TempDir dir;
    // Nothing at all, half a header, and a header whose column count is cut.
    for (const std::string& bytes :
         {std::string(), std::string("\x02\x00", 2), denseMatrixBytes(2, 2, {}).substr(0, 4),
          denseMatrixBytes(2, 2, {}).substr(0, 7)}) {
        const std::string name = dir.write("short.dat", bytes);
        LoadResult r = load(name);
        EXPECT_EQ(r.status, 1) << bytes.size() << " bytes";
        EXPECT_EQ(r.output, readError(name));
    }
    // A four-byte file: the row count was read before the column count failed.
    LoadResult r = load(dir.write("four.dat", denseMatrixBytes(7, 0, {}).substr(0, 4)));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.rows, 7);
}

TEST(DenseMatrix, OneDoubleShortIsAReadError) {
    TempDir dir;
    const std::string name = dir.write("m.dat", denseMatrixBytes(3, 2, {1, 2, 3, 4, 5}));
    LoadResult r = load(name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, readError(name));
    // The block allocated for the elements went with the failure: the caller frees nothing.
    EXPECT_EQ(r.elements, nullptr);
}

TEST(DenseMatrix, ImpossibleCountsAreReadErrorsNotAllocations) {
    TempDir dir;
    const int32_t big = std::numeric_limits<int32_t>::max();
    // Negative counts, a product that overflows 32 bits, and one that would need 32 EiB.
    const std::vector<std::pair<int, int>> shapes = {{-1, 3},        {3, -1},    {-2, -2},
                                                     {65536, 65536}, {big, big}, {big, 1}};
    for (auto shape : shapes) {
        const std::string name =
            dir.write("bad.dat", denseMatrixBytes(shape.first, shape.second, {1, 2, 3}));
        LoadResult r = load(name);
        EXPECT_EQ(r.status, 1) << shape.first << " x " << shape.second;
        EXPECT_EQ(r.output, readError(name));
    }
}

TEST(DenseMatrix, SavedFilesHoldTheLayoutAndLoadBackBitForBit) {
    TempDir dir;
    // Values whose bits a text round trip or a float conversion would change.
    const std::vector<double> values = {-0.0,
                                        std::numeric_limits<double>::denorm_min(),
                                        std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::quiet_NaN(),
                                        1.0 / 3.0,
                                        -6.02214076e23};
    const std::string name = dir.file("m.U");
    ASSERT_EQ(saveDenseMatrix(name.c_str(), 2, 3, values.data()), 0);
    EXPECT_EQ(fileBytes(name), denseMatrixBytes(2, 3, values));
    LoadResult r = load(name);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(r.rows, 2);
    ASSERT_EQ(r.columns, 3);
    EXPECT_EQ(std::memcmp(r.elements, values.data(), sizeof(double) * values.size()), 0);
    free(r.elements);

    // An empty matrix is its header alone, and an earlier, longer file is replaced whole.
    ASSERT_EQ(saveDenseMatrix(name.c_str(), 0, 4, nullptr), 0);
    EXPECT_EQ(fileBytes(name), denseMatrixBytes(0, 4, {}));
}

TEST(DenseMatrix, SaveTellsAFileItCannotOpenFromOneItCannotWrite) {
    TempDir dir;
    const double k = 18.3;
    EXPECT_EQ(saveDenseMatrix(dir.file("no-such-folder/x.k").c_str(), 1, 1, &k), 1);
    // /dev/full opens, but every write to it fails as on a full disk.
    FILE* full = fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full on this machine";
    fclose(full);
    EXPECT_EQ(saveDenseMatrix("/dev/full", 1, 1, &k), 2);
}

TEST(DenseMatrixDeathTest, LoadOrExitEndsWithCodeOne) {
    TempDir dir;
    const std::string missing = dir.file("missing.freq");
    EXPECT_EXIT(loadOrExitWithStdoutOnStderr(missing), testing::ExitedWithCode(1),
                "^Can't open input matrix file: .*/missing\\.freq\\.\n$");
    const std::string shortFile = dir.write("short.U", denseMatrixBytes(2, 2, {1, 2, 3}));
    EXPECT_EXIT(loadOrExitWithStdoutOnStderr(shortFile), testing::ExitedWithCode(1),
                "^Error reading the matrix from disk file: .*/short\\.U\\.\n$");

    int m = 0, n = 0;
    double* e = nullptr;
    const std::string good = dir.write("good.k", denseMatrixBytes(1, 1, {42.0}));
    EXPECT_EQ(loadDenseMatrixOrExit(good.c_str(), &m, &n, &e), 0);
    EXPECT_EQ(e[0], 42.0);
    free(e);
}

TEST(DenseMatrixDeathTest, CheckEqualOrExitNamesBothValuesAndTheCode) {
    EXPECT_EQ(checkEqualOrExit(11, 11, 1), 0);
    EXPECT_EQ(checkEqualOrExit(-3, -3, 20), 0);
    EXPECT_EXIT(
        {
            stdoutToStderr();
            checkEqualOrExit(5, 11, 1);
        },
        testing::ExitedWithCode(1), "^Error: assertion 5 == 11 failed \\(1\\)\\.\n$");
    EXPECT_EXIT(
        {
            stdoutToStderr();
            checkEqualOrExit(2, 3, 20);
        },
        testing::ExitedWithCode(1), "^Error: assertion 2 == 3 failed \\(20\\)\\.\n$");
}

TEST(DenseMatrixDeathTest, OpenFileOrExitKeepsTheHandleOrEnds) {
    TempDir dir;
    const std::string present = dir.write("list.txt", "a\n");
    FILE* file = nullptr;
    EXPECT_EQ(openFileOrExit(present.c_str(), &file, "r"), 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fgetc(file), 'a');
    fclose(file);

    const std::string absent = dir.file("absent.txt");
    EXPECT_EXIT(
        {
            stdoutToStderr();
            FILE* f;
            openFileOrExit(absent.c_str(), &f, "r");
        },
        testing::ExitedWithCode(1), "^Error: could not open file .*/absent\\.txt\\.\n$");
}
