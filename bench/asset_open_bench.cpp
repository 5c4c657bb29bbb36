// Opening movies: 200 local MPEG-4 files (made once by ffmpeg) opened as assets and loaded
// (duration, tracks, the video's natural size), one after another in this process, against the
// same work done in this process with libavformat directly: open, find the stream info, read the
// duration, the streams and the video's size. The ratio line gives our best wall time over
// libavformat's; the last line the same for CPU time, which other load on the machine does not
// stretch.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "bench/BestTimesReporter.h"
#include "bench/InterleavedRuns.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace {

using namespace pelmar;

constexpr int kMovies = 200;

// The movies: a few made by ffmpeg, copied under distinct names up to kMovies files.
class Movies {
public:
    static Movies& get() {
        static Movies movies;
        return movies;
    }

    std::vector<std::filesystem::path> files;
    std::filesystem::path directory;
    bool ok = true;

private:
    Movies() {
        directory = std::filesystem::temp_directory_path()
                    / ("pelmar-asset-open-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        const av::test::TestMovie kinds[] = {
                {2, 320, 240, 30, 30},
                {3, 640, 360, 25, 50},
                av::test::TestMovie(1, 1280, 720, 30, 30).silent(),
                {2, 480, 640, 30, 60},
        };
        std::vector<std::filesystem::path> made;
        for (const auto& kind : kinds) {
            made.push_back(directory / ("kind" + std::to_string(made.size()) + ".mp4"));
            ok = ok && kind.make(made.back());
        }
        for (int i = 0; i < kMovies && ok; ++i) {
            files.push_back(directory / ("movie" + std::to_string(i) + ".mp4"));
            std::filesystem::copy_file(made[static_cast<size_t>(i) % made.size()], files.back());
        }
    }

    ~Movies() {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
};

// Times `open` over every movie, one after another; `open` says whether it read the movie.
void timeOverMovies(benchmark::State& state,
                    const std::function<bool(const std::filesystem::path&)>& open) {
    const Movies& movies = Movies::get();
    if (!movies.ok) {
        state.SkipWithError("ffmpeg could not make the movies");
        return;
    }
    for (auto _ : state) {
        const double cpuBefore = bench::cpuSeconds(RUSAGE_SELF);
        const auto start = std::chrono::steady_clock::now();
        for (const auto& file : movies.files) {
            if (!open(file)) {
                state.SkipWithError(("cannot read " + file.string()).c_str());
                return;
            }
        }
        state.SetIterationTime(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        // Both sides do their work on this process's threads, so CPU time compares them even
        // when other load on the machine stretches the wall time.
        state.counters["cpu_s"] = bench::cpuSeconds(RUSAGE_SELF) - cpuBefore;
    }
}

void OpenAssets(benchmark::State& state) {
    timeOverMovies(state, [](const std::filesystem::path& file) {
        auto asset = av::URLAsset::create(file.string());
        const auto duration = asset->duration();
        const auto video = asset->tracks(av::TrackMediaType::Video);
        benchmark::DoNotOptimize(asset->tracks().size());
        return duration.isNumeric() && !video.empty() && video.front()->naturalSize().width > 0;
    });
}

void Libavformat(benchmark::State& state) {
    timeOverMovies(state, [](const std::filesystem::path& file) {
        AVFormatContext* raw = nullptr;
        if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) {
            return false;
        }
        const libav::InputFormatPtr format(raw);
        if (avformat_find_stream_info(format.get(), nullptr) < 0) {
            return false;
        }
        const double duration = static_cast<double>(format->duration) / AV_TIME_BASE;
        int width = 0;
        unsigned tracks = 0;
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVCodecParameters* codec = format->streams[i]->codecpar;
            if (codec->codec_type == AVMEDIA_TYPE_VIDEO
                || codec->codec_type == AVMEDIA_TYPE_AUDIO) {
                ++tracks;
            }
            if (codec->codec_type == AVMEDIA_TYPE_VIDEO && width == 0) {
                width = codec->width;
            }
        }
        benchmark::DoNotOptimize(tracks);
        return duration > 0 && width > 0;
    });
}

// Five runs each, interleaved at random; the best run of each counts, so that a moment of load
// from elsewhere on the machine does not decide the figures.
BENCHMARK(OpenAssets)
        ->Iterations(1)
        ->Repetitions(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
BENCHMARK(Libavformat)
        ->Iterations(1)
        ->Repetitions(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    pelmar::bench::BestTimesReporter reporter;
    if (!pelmar::bench::runInterleavedBenchmarks(argc, argv, reporter)) {
        return 1;
    }
    const double ours = reporter.best("OpenAssets").wall;
    const double peer = reporter.best("Libavformat").wall;
    std::printf("asset_open: %d movies, assets %.1f ms, libavformat %.1f ms\n", kMovies, ours,
                peer);
    std::printf("asset_open: ratio=%.3f\n", peer > 0 ? ours / peer : 0.0);
    const double oursCpu = reporter.best("OpenAssets").cpu;
    const double peerCpu = reporter.best("Libavformat").cpu;
    std::printf("asset_open: cpu %.3f s against %.3f s, cpu ratio=%.3f\n", oursCpu, peerCpu,
                peerCpu > 0 ? oursCpu / peerCpu : 0.0);
    return 0;
}
