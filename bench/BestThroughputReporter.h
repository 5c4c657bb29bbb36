// BestThroughputReporter: the console reporter of the throughput benchmarks. It prints as usual
// and keeps each benchmark's best bytes per second, so a summary line can compare the SDK with its
// peer by their best runs rather than by a moment of load from elsewhere on the machine.
// Ownership: plain object, owned by the benchmark's main.
// Threads: thread-compatible (Google Benchmark reports from one thread).
// Errors: none; a benchmark that never reported gives 0.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/InterleavedRuns.h"

namespace pelmar::bench {

class BestThroughputReporter : public benchmark::ConsoleReporter {
public:
    BestThroughputReporter()
        : ConsoleReporter(isatty(fileno(stdout)) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && !run.error_occurred
                && it != run.counters.end()) {
                double& best = bestBytesPerSecond_[run.run_name.function_name];
                best = std::max(best, static_cast<double>(it->second));
            }
        }
    }

    double bestMibPerSecond(const std::string& name) const {
        const auto it = bestBytesPerSecond_.find(name);
        return it == bestBytesPerSecond_.end() ? 0 : it->second / (1024.0 * 1024.0);
    }

private:
    std::map<std::string, double> bestBytesPerSecond_;
};

}  // namespace pelmar::bench
