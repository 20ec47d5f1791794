// tonwell-bake on MPI ranks (mpirun --oversubscribe -np 3 on any machine): the quick scenes come
// out as the plain bake's files, which are themselves the same on every run; a unit that throws
// on a rank ends the run with one message and no folder; a bad recipe is reported once; a batch
// bakes its scenes once and skips them the second time, and a failing scene in it leaves the
// other whole. And the process binds the MPI names
// right: Open MPI's C functions to libmpi, the Fortran ones MUMPS calls to MUMPS's stubs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "geometry/dense_matrix.h"
#include "tests/bake/bake_test_support.h"
#include "tests/support/temp_dir.h"
#include "tools/bake/batch_bake.h"
#include "tools/bake/common/bake_error.h"
#include "tools/bake/parallel/mpi_ranks.h"

namespace fs = std::filesystem;

namespace {

const std::string kBaker = TONWELL_BAKE_EXECUTABLE;
const std::string kRecipes = std::string(TONWELL_SOURCE_DIR) + "/tools/bake/recipes/";

// mpirun with three ranks on any machine: more ranks than cores allowed, as root too where the
// tests run as root (containers), and shared memory without the single-copy mechanism (cross
// memory attach needs ptrace rights that containers withhold).
std::string mpirun() {
    std::string command = std::string(TONWELL_MPIEXEC) +
                          " --oversubscribe -np 3 --mca btl self,vader"
                          " --mca btl_vader_single_copy_mechanism none";
    if (getuid() == 0) command += " --allow-run-as-root";
    return command + " ";
}

struct Outcome {
    int status;
    std::string output;
};

Outcome execute(const std::string& command) {
    Outcome r;
    r.status = runCommand(command + " 2>&1", &r.output);
    return r;
}

struct Dense {
    int rows = 0, columns = 0;
    std::vector<double> values;  // column-major
};

Dense readDense(const std::string& path) {
    Dense d;
    double* elements = nullptr;
    EXPECT_EQ(loadDenseMatrix(path.c_str(), &d.rows, &d.columns, &elements), 0) << path;
    if (elements) d.values.assign(elements, elements + size_t(d.rows) * d.columns);
    free(elements);
    return d;
}

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The files of a baked scene folder the demo reads (the report and the stamp left out: times).
std::vector<fs::path> sceneFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "report.txt" && name != "report.svg" && name != "bake-stamp.txt")
            files.push_back(entry.path().filename());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Compares the scene folder `b` with `a`: the same files; frequencies and the wave numbers of the
// transfers to 1e-10 relative; each
// mode shape up to its sign to what the eigen solve determines it: its Ritz residual tolerance
// (1e-10) over the mode's relative distance to its nearest neighbour (|du| <= r / gap), 1e-10 at
// the least; each transfer's sources the same count, their coefficients within 1e-6 of the
// largest (the fit's tolerance is 5 % and more); every other file byte for byte.
void expectSameScene(const fs::path& a, const fs::path& b, const std::string& what) {
    const std::vector<fs::path> files = sceneFiles(a);
    ASSERT_EQ(files, sceneFiles(b)) << what;
    std::vector<double> frequencies;
    for (const fs::path& file : files)
        if (file.extension() == ".freq") frequencies = readDense((a / file).string()).values;
    for (const fs::path& file : files) {
        const std::string extension = file.extension().string();
        if (extension == ".freq" || extension == ".k" || extension == ".U" ||
            extension == ".sources") {
            const Dense x = readDense((a / file).string()), y = readDense((b / file).string());
            ASSERT_EQ(x.rows, y.rows) << what << " " << file;
            ASSERT_EQ(x.columns, y.columns) << what << " " << file << ": source count";
            const int rows = x.rows;
            for (int c = 0; c < x.columns; ++c) {
                double scale = 0, sameSign = 0, flipped = 0;
                for (int r = 0; r < rows; ++r) {
                    const double u = x.values[size_t(c) * rows + r];
                    const double v = y.values[size_t(c) * rows + r];
                    scale = std::max(scale, std::abs(u));
                    sameSign = std::max(sameSign, std::abs(u - v));
                    flipped = std::max(flipped, std::abs(u + v));
                }
                double tolerance = 1e-10;
                if (extension == ".sources") tolerance = 1e-6;
                if (extension == ".U") {
                    ASSERT_EQ(frequencies.size(), size_t(x.columns)) << what;
                    double gap = 1.0;
                    const double lambda = frequencies[c] * frequencies[c];
                    for (int k : {c - 1, c + 1})
                        if (k >= 0 && k < x.columns)
                            gap = std::min(
                                gap, std::abs(frequencies[k] * frequencies[k] - lambda) / lambda);
                    tolerance = std::max(1e-10, 1e-10 / gap);
                }
                const double difference =
                    extension == ".U" ? std::min(sameSign, flipped) : sameSign;
                EXPECT_LE(difference, tolerance * scale) << what << " " << file << " column " << c;
            }
        } else {
            EXPECT_EQ(bytesOf(a / file), bytesOf(b / file)) << what << " " << file;
        }
    }
}

// The lines of `output` that report an error.
int errorLines(const std::string& output) {
    int count = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.find("error") != std::string::npos) ++count;
    return count;
}

TEST(MpiRanks, MpiNamesBindToOpenMpiAndMumpsKeepsItsStubs) {
    EXPECT_EQ(mpiSymbolBindingProblem(), "");
    // Not started by a launcher: no MPI at all, one rank, broadcasts hand back their bytes.
    EXPECT_EQ(rankCount(), 1);
    EXPECT_EQ(rankIndex(), 0);
}

TEST(MpiBake, QuickScenesOnThreeRanksEqualThePlainBake) {
    TempDir dir;
    for (const std::string scene : {"bell", "chair"}) {
        const std::string recipe = kRecipes + scene + "-quick.json";
        const fs::path plain = fs::path(dir.path()) / "plain" / scene;
        const fs::path again = fs::path(dir.path()) / "again" / scene;
        const fs::path ranks = fs::path(dir.path()) / "ranks" / scene;
        Outcome r = execute(kBaker + " --quiet --workers 2 " + recipe + " " + plain.string());
        ASSERT_EQ(r.status, 0) << r.output;
        // Run again with another number of workers (the slices and groups then finish in
        // another order, in other processes), a plain bake writes the same files to the bit: no
        // sign or basis of a close pair that depends on which worker finished first, no ordering
        // of the sparse factorisation that changes from run to run.
        r = execute(kBaker + " --quiet --workers 3 " + recipe + " " + again.string());
        ASSERT_EQ(r.status, 0) << r.output;
        for (const fs::path& file : sceneFiles(plain))
            EXPECT_EQ(bytesOf(plain / file), bytesOf(again / file)) << scene << " " << file;

        r = execute(mpirun() + kBaker + " " + recipe + " " + ranks.string());
        ASSERT_EQ(r.status, 0) << r.output;
        expectSameScene(plain, ranks, scene + " on three ranks");
        EXPECT_NE(r.output.find("baked in"), std::string::npos) << "rank 0 prints: " << r.output;
        EXPECT_EQ(r.output.find("tonwell-bake: " + recipe),
                  r.output.rfind("tonwell-bake: " + recipe))
            << "one rank prints the progress: " << r.output;
        EXPECT_NEAR(reportedForceUnit(ranks.string()) / reportedForceUnit(plain.string()), 1.0,
                    1e-5);
    }
}

TEST(MpiBake, AUnitThatThrowsOnARankEndsTheRunWithOneMessageAndNoFolder) {
    TempDir dir;
    const std::string recipe = kRecipes + "bell-quick.json";
    const fs::path output = fs::path(dir.path()) / "bell";
    // A previous bake, which the failed one must leave as it was.
    Outcome r = execute(kBaker + " --quiet " + recipe + " " + output.string());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string stamp = bytesOf(output / "bake-stamp.txt");
    for (const std::string unit : {"eigen slice around", "the acoustic transfer of mode"}) {
        r = execute("TONWELL_BAKE_FAIL_UNIT='" + unit + "' " + mpirun() + kBaker + " --force " +
                    recipe + " " + output.string());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_EQ(errorLines(r.output), 1) << r.output;
        EXPECT_NE(r.output.find("tonwell-bake: error: " + recipe + ": " + unit), std::string::npos)
            << "the message names the recipe and the unit: " << r.output;
        EXPECT_NE(r.output.find("failure injected"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("MPI_ABORT"), std::string::npos) << r.output;
        EXPECT_EQ(bytesOf(output / "bake-stamp.txt"), stamp) << "the previous bake is untouched";
        for (const auto& entry : fs::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename().string().find(".baking"), std::string::npos)
                << "temporary folder left: " << entry.path();
    }
}

TEST(MpiBake, CtrlCStopsEveryRankAndLeavesNoTemporaryFolder) {
    // SIGINT to mpirun 8 s into the full-band bell (it takes minutes), in the eigen solve with
    // the units' processes at work: mpirun stops the ranks, which kill their units' processes and
    // remove the temporary folder.
    TempDir dir;
    const std::string output = dir.file("bell");
    const Outcome r = execute("(" + mpirun() + kBaker + " " + kRecipes + "bell.json " + output +
                              " & pid=$!; sleep 8; kill -INT $pid; wait $pid)");
    EXPECT_NE(r.status, 0) << "the bake was not interrupted: " << r.output;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        ADD_FAILURE() << "left behind: " << entry.path();
    std::string running;
    runCommand("pgrep -f '[t]onwell-bake .*" + output + "'", &running);  // [t]: not pgrep's shell
    EXPECT_EQ(running, "") << "processes of the bake still run";
}

TEST(MpiBake, BadRecipeIsReportedOnceBeforeAnyWork) {
    TempDir dir;
    const std::string recipe =
        dir.write("bad.json", R"({"name": "bad", "shape": {"kind": "cube"}})");
    const Outcome r = execute(mpirun() + kBaker + " " + recipe + " " + dir.file("bad"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(errorLines(r.output), 1) << r.output;
    EXPECT_NE(r.output.find(recipe + ": "), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.file("bad")));
}

TEST(MpiBake, BatchOfTwoQuickScenesBakesThemOnceThenSkipsBoth) {
    TempDir dir;
    // Paths relative to the list file, a comment and a blank line.
    const std::string relative = fs::relative(kRecipes, dir.path()).string();
    const std::string list =
        dir.write("scenes.txt", "# two quick scenes\n" + relative + "/bell-quick.json\n\n  " +
                                    relative + "/chair-quick.json  \n");
    const std::string out = dir.file("demo");
    Outcome r = execute(mpirun() + kBaker + " --batch " + list + " " + out);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("2 scenes baked, 0 up to date"), std::string::npos) << r.output;
    for (const char* scene : {"bell", "chair"})
        EXPECT_TRUE(fs::exists(fs::path(out) / scene / "bake-stamp.txt")) << scene;
    const auto bellTime = fs::last_write_time(fs::path(out) / "bell" / "bake-stamp.txt");
    r = execute(mpirun() + kBaker + " --batch " + list + " " + out);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("0 scenes baked, 2 up to date"), std::string::npos) << r.output;
    EXPECT_EQ(fs::last_write_time(fs::path(out) / "bell" / "bake-stamp.txt"), bellTime);
    // Plainly too, and --check agrees.
    r = execute(kBaker + " --check --batch " + list + " " + out);
    EXPECT_EQ(r.status, 0) << r.output;

    // A scene that fails does not stop the other; the failure is reported once, at the end, and
    // leaves no folder.
    const std::string failing = dir.file("failing");
    r = execute("TONWELL_BAKE_FAIL_UNIT='chair-quick.json: the acoustic transfer' " + mpirun() +
                kBaker + " --batch " + list + " " + failing);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(errorLines(r.output), 1) << r.output;
    EXPECT_NE(r.output.find("chair-quick.json: the acoustic transfer of mode"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("1 scenes baked, 0 up to date, 1 failed"), std::string::npos)
        << r.output;
    EXPECT_TRUE(fs::exists(fs::path(failing) / "bell" / "bake-stamp.txt"));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(failing))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"bell"}) << "no chair folder, no temporary one";
}

TEST(BatchList, ReadsPathsRelativeToTheListAndRefusesAnEmptyOne) {
    TempDir dir;
    const std::string list =
        dir.write("sub/list.txt", "# comment\n\n a.json \n/abs/b.json\n  # indented comment\n");
    const std::vector<std::string> paths = readBatchList(list);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], dir.file("sub/a.json"));
    EXPECT_EQ(paths[1], "/abs/b.json");
    try {
        readBatchList(dir.write("empty.txt", "# nothing\n\n"));
        ADD_FAILURE() << "an empty list was accepted";
    } catch (const BakeError& e) {
        EXPECT_NE(std::string(e.what()).find("names no recipe"), std::string::npos) << e.what();
    }
}

}  // namespace
