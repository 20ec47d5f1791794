// The transfer files as the program reads them: names, shapes and byte layout read back with the
// program's own dense matrix reader, and a planted source set that evaluates the same after the
// round trip.
#include "tools/bake/transfer/multipole/transfer_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "geometry/dense_matrix.h"
#include "tests/support/temp_dir.h"

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(TransferFiles, ListNamesCarryTheToleranceInTwoDigits) {
    EXPECT_EQ(transferListFileName("bell", 5), "bell-ZEPObjectsList-05.txt");
    EXPECT_EQ(transferListFileName("chair", 15), "chair-ZEPObjectsList-15.txt");
    EXPECT_EQ(transferListFileName("dragon", 4), "dragon-ZEPObjectsList-04.txt");
}

TEST(TransferFiles, SceneTransferRoundTripsThroughTheProgramsReader) {
    TempDir root;
    ASSERT_EQ(mkdir(root.file("chair").c_str(), 0755), 0);
    std::vector<TransferFileMode> modes(3);
    modes[0].sources = MultipoleSources(11, 2);
    modes[0].sources.col(0) =
        multipoleColumn({0.1, 0.2, 0.3}, {{{1, -2}, {0.5, 0}, {0, 3}, {-1, 1}}});
    modes[0].sources.col(1) =
        multipoleColumn({-0.2, 0.4, 0.0}, {{{0, 1}, {2, 2}, {-3, 0}, {0, 0}}});
    modes[0].waveNumber = 18.3;
    modes[1].sources = MultipoleSources(11, 0);  // a silent mode
    modes[1].waveNumber = 40.0;
    modes[2].sources = MultipoleSources(11, 1);
    modes[2].sources.col(0) = multipoleColumn({0, 0, 0}, {{{7, 0}, {0, 0}, {0, 0}, {0, 0}}});
    modes[2].waveNumber = 91.5;

    const std::string list = writeSceneTransfer(root.path(), "chair", 15, modes);
    EXPECT_EQ(list, root.file("chair/chair-ZEPObjectsList-15.txt"));
    const std::string text = readText(list);
    EXPECT_EQ(text,
              "chair/chair-transfer-000\nchair/chair-transfer-001\nchair/chair-transfer-002\n");

    // Prefixes are relative to the folder the program runs in.
    ScopedWorkingDirectory inRoot(root.path());
    std::istringstream lines(text);
    std::string prefix;
    for (size_t i = 0; std::getline(lines, prefix); ++i) {
        int rows = 0, columns = 0;
        double* elements = nullptr;
        ASSERT_EQ(loadDenseMatrix((prefix + ".sources").c_str(), &rows, &columns, &elements), 0);
        EXPECT_EQ(rows, 11);
        ASSERT_EQ(columns, modes[i].sources.cols());
        const MultipoleSources loaded = Eigen::Map<MultipoleSources>(elements, 11, columns);
        std::free(elements);
        EXPECT_EQ(loaded, modes[i].sources);
        const Eigen::Vector3d listener(1.5, -0.3, 0.8);
        EXPECT_EQ(evaluateMultipoles(loaded, modes[i].waveNumber, listener),
                  evaluateMultipoles(modes[i].sources, modes[i].waveNumber, listener));
        ASSERT_EQ(loadDenseMatrix((prefix + ".k").c_str(), &rows, &columns, &elements), 0);
        EXPECT_EQ(rows, 1);
        EXPECT_EQ(columns, 1);
        EXPECT_EQ(elements[0], modes[i].waveNumber);
        std::free(elements);
    }
    // Byte layout of a source record: header, then x, y, z, Re a0, Im a0, ... of source 0.
    const std::string bytes = readText("chair/chair-transfer-000.sources");
    ASSERT_EQ(bytes.size(), 8u + 8 * 22);
    double third;
    std::memcpy(&third, bytes.data() + 8 + 8 * 4, 8);
    EXPECT_EQ(third, -2.0);  // Im a0 of source 0
    EXPECT_EQ(readText("chair/chair-transfer-001.sources").size(), 8u);
}

TEST(TransferFiles, FailuresNameTheFile) {
    TempDir root;
    try {
        writeWaveNumberFile(root.file("missing/x.k"), 1.0);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing/x.k"), std::string::npos);
    }
    EXPECT_THROW(writeTransferList(root.file("list.txt"), {"a", ""}), std::runtime_error);
    EXPECT_THROW(writeTransferList(root.file("list.txt"), {"a\nb"}), std::runtime_error);
}
