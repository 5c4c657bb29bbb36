// Trimming cost: 10 s cut out of a 60 s 1080p30 movie with stereo AAC, written to MPEG-4 through
// the export session at its highest-quality preset (H.264 via libx264 veryfast without B-frames,
// AAC 128 kbit/s stereo), against the ffmpeg command line cutting the same range with `-ss -to`
// and re-encoding at the same settings. Reports wall and CPU time (all threads) of both; the last
// line gives the SDK's CPU time over ffmpeg's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "bench/BestTimesReporter.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/URLAsset.h"

namespace {

using namespace pelmar;
using pelmar::bench::cpuSeconds;

constexpr int kSourceSeconds = 60;
constexpr double kStart = 20;
constexpr double kEnd = 30;

// The source movie, made once per run.
class Source {
public:
    static Source& get() {
        static Source source;
        return source;
    }

    std::filesystem::path directory;
    std::filesystem::path movie;
    bool ok = false;

private:
    Source() {
        directory = std::filesystem::temp_directory_path()
                    / ("pelmar-trim-export-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        movie = directory / "source.mp4";
        const std::string d = std::to_string(kSourceSeconds);
        const std::string command =
                "ffmpeg -nostdin -hide_banner -loglevel error -y"
                " -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=" + d
                + " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + d
                + " -c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p"
                  " -c:a aac -b:a 128k -ac 2 -shortest '" + movie.string() + "'";
        ok = std::system(command.c_str()) == 0;
    }

    ~Source() {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
};

void SdkTrim(benchmark::State& state) {
    Source& source = Source::get();
    if (!source.ok) {
        state.SkipWithError("cannot make the source movie");
        return;
    }
    for (auto _ : state) {
        const auto output = source.directory / "sdk.mp4";
        std::filesystem::remove(output);
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto start = std::chrono::steady_clock::now();
        auto session = av::AssetExportSession::create(av::URLAsset::create(source.movie.string()),
                                                      av::kAssetExportPresetHighestQuality);
        if (!session) {
            state.SkipWithError("no export session");
            return;
        }
        session->setOutputURL(output);
        session->setOutputFileType(std::string(av::kFileTypeMPEG4));
        session->setTimeRange(av::TimeRange::seconds(kStart, kEnd - kStart));
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        session->exportAsynchronously([&] {
            std::lock_guard lock(mutex);
            done = true;
            finished.notify_all();
        });
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&] { return done; });
        }
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["cpu_s"] = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        if (session->status() != av::AssetExportSession::Status::Completed) {
            state.SkipWithError("the export failed");
        }
    }
}

void FfmpegTrim(benchmark::State& state) {
    Source& source = Source::get();
    if (!source.ok) {
        state.SkipWithError("cannot make the source movie");
        return;
    }
    const auto output = source.directory / "ffmpeg.mp4";
    const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y -ss " + std::to_string(kStart)
            + " -to " + std::to_string(kEnd) + " -i '" + source.movie.string()
            + "' -c:v libx264 -preset veryfast -bf 0 -pix_fmt yuv420p"
              " -c:a aac -b:a 128k -ar 44100 -ac 2 -f mp4 '"
            + output.string() + "'";
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["cpu_s"] = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        if (status != 0) {
            state.SkipWithError("ffmpeg failed");
        }
    }
}

// Two runs each; the best of each counts, so a moment of load from elsewhere does not decide.
BENCHMARK(SdkTrim)->Iterations(1)->Repetitions(2)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(FfmpegTrim)->Iterations(1)->Repetitions(2)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    pelmar::bench::BestTimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double sdk = reporter.best("SdkTrim").cpu;
    const double ffmpeg = reporter.best("FfmpegTrim").cpu;
    std::printf("trim_export: SDK %.2f s CPU; ffmpeg %.2f s CPU\n", sdk, ffmpeg);
    std::printf("trim_export: ratio=%.2f\n", ffmpeg > 0 ? sdk / ffmpeg : 0.0);
    return 0;
}
