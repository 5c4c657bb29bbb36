// The waveform's loudness outline: a 10-minute stereo 44.1 kHz AAC file (made once by ffmpeg)
// loaded as an AudioContext and rendered to 100 values, in this process, against
// `ffmpeg -i F -f s16le -` decoding the same file to a pipe. The last line gives our time over
// ffmpeg's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BestTimesReporter.h"
#include "pelmar/audio/AudioContext.h"

namespace {

using namespace pelmar;

constexpr int kSeconds = 600;
constexpr int kBars = 100;

// The file, made once: a tone whose loudness changes every few seconds, so the outline has shape.
class Sound {
public:
    static Sound& get() {
        static Sound sound;
        return sound;
    }

    std::filesystem::path file;
    bool ok = false;

private:
    Sound() {
        directory_ = std::filesystem::temp_directory_path()
                     / ("pelmar-audio-waveform-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
        file = directory_ / "ten-minutes.m4a";
        const std::string command =
                "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration="
                + std::to_string(kSeconds)
                + "' -af 'volume=eval=frame:volume=0.2+0.8*abs(sin(t/3))' -ac 2 -c:a aac -b:a "
                  "128k '"
                + file.string() + "'";
        ok = std::system(command.c_str()) == 0;
    }

    ~Sound() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    std::filesystem::path directory_;
};

void timeOnce(benchmark::State& state,
              const std::function<bool(const std::filesystem::path&)>& run) {
    const Sound& sound = Sound::get();
    if (!sound.ok) {
        state.SkipWithError("ffmpeg could not make the sound file");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!run(sound.file)) {
            state.SkipWithError("the file was not read");
            return;
        }
        state.SetIterationTime(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void RenderOutline(benchmark::State& state) {
    timeOnce(state, [](const std::filesystem::path& file) {
        std::promise<std::shared_ptr<AudioContext>> loaded;
        AudioContext::load(file, [&loaded](std::shared_ptr<AudioContext> context) {
            loaded.set_value(std::move(context));
        });
        auto context = loaded.get_future().get();
        if (!context) {
            return false;
        }
        const auto values = context->render(kBars);
        benchmark::DoNotOptimize(values.data());
        return !values.empty();
    });
}

void FfmpegDecode(benchmark::State& state) {
    timeOnce(state, [](const std::filesystem::path& file) {
        const std::string command =
                "ffmpeg -v error -i '" + file.string() + "' -f s16le - >/dev/null";
        return std::system(command.c_str()) == 0;
    });
}

// Two runs each; the best run of each counts, so that a moment of load from elsewhere on the
// machine does not decide the figures.
BENCHMARK(RenderOutline)
        ->Iterations(1)
        ->Repetitions(2)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegDecode)
        ->Iterations(1)
        ->Repetitions(2)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    pelmar::bench::BestTimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ours = reporter.best("RenderOutline").wall;
    const double peer = reporter.best("FfmpegDecode").wall;
    std::printf("audio_waveform: %d s stereo, %d bars %.1f ms, ffmpeg decode %.1f ms\n", kSeconds,
                kBars, ours, peer);
    std::printf("audio_waveform: ratio=%.3f\n", peer > 0 ? ours / peer : 0.0);
    return 0;
}
