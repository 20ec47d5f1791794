// The worker processes: every unit's result comes back once, whichever process ran it; a unit
// that throws or a worker that dies ends the run with the unit named; and the bytes of a result
// come back as they were packed.
#include "tools/bake/parallel/worker_processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <set>
#include <stdexcept>

#include "tools/bake/common/bake_error.h"

namespace {

std::string describe(int unit) { return "unit " + std::to_string(unit); }

}  // namespace

TEST(WorkerProcesses, EveryUnitRunsOnceInItsOwnProcess) {
    WorkerOptions options;
    options.workerCount = 3;
    std::vector<std::string> results(20);
    std::set<int64_t> processes;
    runInWorkerProcesses(
        20,
        [](int unit) {
            ByteWriter out;
            out.putInt(unit * unit);
            out.putInt(getpid());
            // Uneven costs, as the baker's units have.
            usleep((unit % 4) * 2000);
            return out.take();
        },
        [&](int unit, const std::string& bytes) {
            EXPECT_TRUE(results[unit].empty()) << "unit " << unit << " reported twice";
            results[unit] = bytes;
            ByteReader in(bytes);
            EXPECT_EQ(in.getInt(), unit * unit);
            processes.insert(in.getInt());
        },
        describe, options);
    for (int unit = 0; unit < 20; ++unit) EXPECT_FALSE(results[unit].empty()) << unit;
    EXPECT_EQ(processes.count(getpid()), 0u) << "units ran in the workers, not the baker";
    EXPECT_GE(processes.size(), 2u);
}

TEST(WorkerProcesses, AUnitThatFailsOrAWorkerThatDiesIsNamed) {
    WorkerOptions options;
    options.workerCount = 2;
    for (bool crash : {false, true}) {
        try {
            runInWorkerProcesses(
                6,
                [crash](int unit) -> std::string {
                    if (unit == 4) {
                        if (crash) raise(SIGSEGV);
                        throw std::runtime_error("the solve diverged");
                    }
                    return "ok";
                },
                [](int, const std::string& bytes) { EXPECT_EQ(bytes, "ok"); }, describe, options);
            FAIL() << "expected the run to fail";
        } catch (const BakeError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("unit 4: "), std::string::npos) << message;
            EXPECT_NE(message.find(crash ? "signal 11" : "the solve diverged"), std::string::npos)
                << message;
        }
    }
    // In-process too (one worker), the unit is named.
    options.workerCount = 1;
    EXPECT_THROW(runInWorkerProcesses(
                     3,
                     [](int unit) -> std::string {
                         if (unit == 2) throw std::runtime_error("no");
                         return "";
                     },
                     [](int, const std::string&) {}, describe, options),
                 BakeError);
}

TEST(WorkerProcesses, BytesRoundTrip) {
    ByteWriter out;
    Eigen::MatrixXd real = Eigen::MatrixXd::Random(3, 5);
    Eigen::MatrixXcd complex = Eigen::MatrixXcd::Random(4, 2);
    out.putInt(-7);
    out.putDouble(0.1);
    out.putString("eigen slice");
    out.putMatrix(real);
    out.putMatrix(complex);
    const std::string bytes = out.take();
    ByteReader in(bytes);
    EXPECT_EQ(in.getInt(), -7);
    EXPECT_EQ(in.getDouble(), 0.1);
    EXPECT_EQ(in.getString(), "eigen slice");
    EXPECT_EQ(in.getMatrix(), real);
    EXPECT_EQ(in.getComplexMatrix(), complex);
    EXPECT_THROW(in.getInt(), std::runtime_error);
}
