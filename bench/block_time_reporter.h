// The benchmarks' console reporter that also keeps every run's processor time per iteration (one
// audio block), for the summaries they print after the table: keyed by the benchmark's name, and
// by its arguments too when asked.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class BlockTimeReporter : public benchmark::ConsoleReporter {
  public:
    explicit BlockTimeReporter(bool keyByArguments = false) : keyByArguments_(keyByArguments) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string key = keyByArguments_
                                        ? run.run_name.function_name + "/" + run.run_name.args
                                        : run.run_name.function_name;
            secondsPerBlock[key] = run.cpu_accumulated_time / static_cast<double>(run.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> secondsPerBlock;

  private:
    bool keyByArguments_;
};
