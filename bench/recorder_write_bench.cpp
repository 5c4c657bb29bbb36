// Recording cost: 60 s of 1080x1920 BGRA camera pictures at 30 frames/s and 44.1 kHz mono
// microphone buffers written through the recorder's asset writer into an MPEG-4 file (H.264 via
// libx264 veryfast without B-frames, AAC 128 kbit/s stereo), against the ffmpeg command line
// writing the same raw input at the same settings into an MPEG-4 file. Reports frames per second
// and CPU time (all threads) of both; the last line gives how many times faster than real time
// the SDK writes, and its CPU time over ffmpeg's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BestTimesReporter.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/AssetWriterInputPixelBufferAdaptor.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"

namespace {

using namespace pelmar;
using pelmar::bench::cpuSeconds;

constexpr int kWidth = 1080;
constexpr int kHeight = 1920;
constexpr int kFps = 30;
constexpr int kSeconds = 60;
constexpr int kFrames = kFps * kSeconds;
constexpr int kDistinctPictures = 10;  // a third of a second of pattern, repeated
constexpr int kSampleRate = 44100;
constexpr int kAudioFramesPerBuffer = 1024;

// The raw input, in memory for the SDK and in files for ffmpeg.
class Input {
public:
    static Input& get() {
        static Input input;
        return input;
    }

    std::vector<std::shared_ptr<media::SampleBuffer>> pictures;
    std::vector<std::shared_ptr<media::SampleBuffer>> audio;
    std::filesystem::path directory;
    std::filesystem::path videoFile;
    std::filesystem::path audioFile;

private:
    Input() {
        directory = std::filesystem::temp_directory_path()
                    / ("pelmar-recorder-write-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        videoFile = directory / "pictures.bgra";
        audioFile = directory / "audio.s16";
        std::ofstream video(videoFile, std::ios::binary);
        for (int i = 0; i < kDistinctPictures; ++i) {
            pictures.push_back(av::test::SyntheticMedia::frame(kWidth, kHeight, i * 3, 0));
            const auto& pixels = *pictures.back()->imageBuffer();
            video.write(reinterpret_cast<const char*>(pixels.data()),
                        static_cast<std::streamsize>(pixels.size()));
        }
        std::ofstream pcm(audioFile, std::ios::binary);
        for (int64_t first = 0; first + kAudioFramesPerBuffer <= int64_t{kSampleRate} * kSeconds;
             first += kAudioFramesPerBuffer) {
            audio.push_back(av::test::SyntheticMedia::tone(first, kAudioFramesPerBuffer));
            const auto bytes = audio.back()->data();
            pcm.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
    }

    ~Input() {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
};

void Report(benchmark::State& state, double wall, double cpu) {
    state.SetIterationTime(wall);
    state.counters["fps"] = kFrames / wall;
    state.counters["cpu_s"] = cpu;
    state.counters["realtime_x"] = kSeconds / wall;
}

// Waits, as a producer that keeps every sample would, for room in the writer's queue.
void waitUntilReady(const av::AssetWriterInput& input) {
    while (!input.isReadyForMoreMediaData()) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void SdkWrite(benchmark::State& state) {
    Input& input = Input::get();
    for (auto _ : state) {
        const auto path = input.directory / "sdk.mp4";
        std::filesystem::remove(path);
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto start = std::chrono::steady_clock::now();
        auto writer = av::AssetWriter::create(path);
        auto video = av::AssetWriterInput::createVideo({kWidth, kHeight});
        auto audio = av::AssetWriterInput::createAudio({2, kSampleRate, 128000});
        video->setExpectsMediaDataInRealTime(true);
        audio->setExpectsMediaDataInRealTime(true);
        writer->addInput(video);
        writer->addInput(audio);
        writer->startWriting();
        writer->startSession(media::Time::zero());
        size_t nextAudio = 0;
        for (int i = 0; i < kFrames; ++i) {
            const double t = static_cast<double>(i) / kFps;
            while (nextAudio < input.audio.size()
                   && input.audio[nextAudio]->presentationTimeStamp().seconds() <= t) {
                waitUntilReady(*audio);
                audio->append(input.audio[nextAudio++]);
            }
            const auto& picture = input.pictures[static_cast<size_t>(i % kDistinctPictures)];
            waitUntilReady(*video);
            video->append(picture->copyWithNewTiming(
                    {{media::Time::make(1, kFps), media::Time::make(i, kFps), media::Time()}}));
        }
        while (nextAudio < input.audio.size()) {
            waitUntilReady(*audio);
            audio->append(input.audio[nextAudio++]);
        }
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        writer->finishWriting([&] {
            std::lock_guard lock(mutex);
            done = true;
            finished.notify_all();
        });
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&] { return done; });
        }
        const bool completed = writer->status() == av::AssetWriter::Status::Completed;
        writer.reset();
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, wall, cpuSeconds(RUSAGE_SELF) - cpuBefore);
        if (!completed) {
            state.SkipWithError("the writer failed");
        }
        state.counters["mbytes"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    }
}

void FfmpegWrite(benchmark::State& state) {
    Input& input = Input::get();
    const auto path = input.directory / "ffmpeg.mp4";
    const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y"
            " -f rawvideo -pix_fmt bgra -s " + std::to_string(kWidth) + "x"
            + std::to_string(kHeight) + " -framerate " + std::to_string(kFps) + " -stream_loop "
            + std::to_string(kFrames / kDistinctPictures - 1) + " -i '" + input.videoFile.string()
            + "'" + " -f s16le -ar " + std::to_string(kSampleRate) + " -ac 1 -i '"
            + input.audioFile.string() + "'"
            + " -c:v libx264 -pix_fmt yuv420p -preset veryfast -bf 0"
              " -c:a aac -b:a 128k -ar 44100 -ac 2 -f mp4 '"
            + path.string() + "' 2>/dev/null";
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, wall, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore);
        if (status != 0) {
            state.SkipWithError("ffmpeg failed");
        } else {
            state.counters["mbytes"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
        }
    }
}

// Two runs each; the best run of each counts, so that a moment of load from elsewhere on the
// machine does not decide the figures.
BENCHMARK(SdkWrite)->Iterations(1)->Repetitions(2)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(FfmpegWrite)->Iterations(1)->Repetitions(2)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    pelmar::bench::BestTimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto sdk = reporter.best("SdkWrite");
    const auto ffmpeg = reporter.best("FfmpegWrite");
    std::printf("recorder_write: SDK %.0f fps, %.2f s CPU; ffmpeg %.0f fps, %.2f s CPU\n",
                sdk.wall > 0 ? kFrames / sdk.wall : 0, sdk.cpu,
                ffmpeg.wall > 0 ? kFrames / ffmpeg.wall : 0, ffmpeg.cpu);
    std::printf("recorder_write: realtime_factor=%.2f cpu_ratio=%.2f\n",
                sdk.wall > 0 ? kSeconds / sdk.wall : 0.0,
                ffmpeg.cpu > 0 ? sdk.cpu / ffmpeg.cpu : 0.0);
    return 0;
}
