// InterleavedRuns: runs every registered benchmark with the repetitions of the SDK and its peer
// interleaved at random, so that load from elsewhere on the machine, and whatever the first runs
// of a process pay (cold heap, lazy symbol binding), fall on both sides alike.
// Ownership: free function; the reporter stays the caller's.
// Threads: call from main, once.
// Errors: false when the command line holds an unknown argument.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

namespace pelmar::bench {

inline bool runInterleavedBenchmarks(int argc,
                                     char** argv,
                                     benchmark::BenchmarkReporter& reporter) {
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    argc = static_cast<int>(arguments.size());
    benchmark::Initialize(&argc, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(argc, arguments.data())) {
        return false;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}

}  // namespace pelmar::bench
