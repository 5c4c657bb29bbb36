// BestTimesReporter: the console reporter of the benchmarks that compare time with a peer. It
// prints as usual and keeps, per benchmark, the best wall time (in the benchmark's own time unit)
// and, for benchmarks that report one, the least "cpu_s" counter of its runs, so a summary line
// compares the SDK with its peer by their best runs rather than by a moment of load from elsewhere
// on the machine. cpuSeconds() reads the CPU time (user + system, all threads) of the process or
// its children. Ownership: plain object, owned by the benchmark's main. Threads: thread-compatible
// (Google Benchmark reports from one thread). Errors: none; a benchmark that never reported gives
// zeros, one without "cpu_s" a zero CPU time.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace pelmar::bench {

// RUSAGE_SELF or RUSAGE_CHILDREN.
inline double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class BestTimesReporter : public benchmark::ConsoleReporter {
public:
    struct Best {
        double wall = 0;
        double cpu = 0;
    };

    BestTimesReporter()
        : ConsoleReporter(isatty(fileno(stdout)) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            Best& best = best_[run.run_name.function_name];
            const double wall = run.GetAdjustedRealTime();
            best.wall = best.wall > 0 ? std::min(best.wall, wall) : wall;
            const auto cpu = run.counters.find("cpu_s");
            if (cpu != run.counters.end()) {
                best.cpu = best.cpu > 0 ? std::min(best.cpu, static_cast<double>(cpu->second))
                                        : static_cast<double>(cpu->second);
            }
        }
    }

    Best best(const std::string& name) const {
        const auto it = best_.find(name);
        return it == best_.end() ? Best{} : it->second;
    }

private:
    std::map<std::string, Best> best_;
};

}  // namespace pelmar::bench
