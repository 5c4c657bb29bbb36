// Live encoding cost: 60 s of 1280x720 BGRA pictures at 30 frames/s and 44.1 kHz stereo PCM
// through H264Encoder and AACEncoder, against the ffmpeg command line encoding the same raw input
// at the same settings (libx264 Baseline, veryfast, zero latency, 2 s key-frame interval, the
// same bitrates, its native AAC encoder) to the null muxer. Reports frames per second and CPU time
// (all threads) of both; the last line gives how many times faster than real time the SDK
// encodes, and its CPU time over ffmpeg's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BestTimesReporter.h"
#include "pelmar/live/AACEncoder.h"
#include "pelmar/live/H264Encoder.h"
#include "testing/SyntheticMedia.h"

namespace {

using namespace pelmar;
using pelmar::bench::cpuSeconds;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 30;
constexpr int kSeconds = 60;
constexpr int kFrames = kFps * kSeconds;
constexpr int kDistinctPictures = 30;  // one second of pattern, repeated
constexpr int kVideoBitrate = 2'500'000;
constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kAudioBitrate = 128'000;
constexpr int kAudioFramesPerPicture = kSampleRate / kFps;

// The raw input, in memory for the SDK and in files for ffmpeg.
class Input {
public:
    static Input& get() {
        static Input input;
        return input;
    }

    std::vector<std::shared_ptr<media::PixelBuffer>> pictures;
    std::vector<std::shared_ptr<media::SampleBuffer>> audio;  // one buffer per picture
    std::filesystem::path directory;
    std::filesystem::path videoFile;
    std::filesystem::path audioFile;

private:
    Input() {
        directory = std::filesystem::temp_directory_path()
                    / ("pelmar-live-encode-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        videoFile = directory / "pictures.bgra";
        audioFile = directory / "audio.s16";
        std::ofstream video(videoFile, std::ios::binary);
        for (int i = 0; i < kDistinctPictures; ++i) {
            pictures.push_back(test::MovingPattern(kWidth, kHeight, i * 5));
            video.write(reinterpret_cast<const char*>(pictures.back()->data()),
                        static_cast<std::streamsize>(pictures.back()->size()));
        }
        std::ofstream pcm(audioFile, std::ios::binary);
        for (int i = 0; i < kFrames; ++i) {
            audio.push_back(test::SinePcm(int64_t{i} * kAudioFramesPerPicture,
                                          kAudioFramesPerPicture, kSampleRate, kChannels));
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

class CountingVideo : public live::H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) override {
        ++frames;
        bytes += sampleBuffer->data().size();
    }

    int frames = 0;
    size_t bytes = 0;
};

class CountingAudio : public live::AACEncoderDelegate {
public:
    void compressedAudioDataReceived(std::span<const uint8_t> data,
                                     std::span<const uint8_t>,
                                     media::Time) override {
        ++packets;
        bytes += data.size();
    }

    int packets = 0;
    size_t bytes = 0;
};

void Report(benchmark::State& state, double wall, double cpu) {
    state.SetIterationTime(wall);
    state.counters["fps"] = kFrames / wall;
    state.counters["cpu_s"] = cpu;
    state.counters["realtime_x"] = kSeconds / wall;
}

void SdkEncode(benchmark::State& state) {
    Input& input = Input::get();
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto start = std::chrono::steady_clock::now();
        auto video = live::H264Encoder::create(kWidth, kHeight, kVideoBitrate, kFps);
        auto audio = live::AACEncoder::create(kSampleRate, kChannels, kAudioBitrate);
        auto videoOut = std::make_shared<CountingVideo>();
        auto audioOut = std::make_shared<CountingAudio>();
        video->setDelegate(videoOut);
        audio->setDelegate(audioOut);
        // Camera and microphone deliver on threads of their own, as in an app.
        std::thread microphone([&] {
            for (const auto& buffer : input.audio) {
                audio->putCMSampleBuffer(buffer);
            }
            audio->flush();
        });
        for (int i = 0; i < kFrames; ++i) {
            video->putCVPixelBuffer(input.pictures[static_cast<size_t>(i % kDistinctPictures)],
                                    media::Time::make(i, kFps));
        }
        microphone.join();
        video.reset();
        audio.reset();
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, wall, cpuSeconds(RUSAGE_SELF) - cpuBefore);
        if (videoOut->frames != kFrames) {
            state.SkipWithError("video frames missing");
        }
        state.counters["video_kbps"] = static_cast<double>(videoOut->bytes) * 8 / kSeconds / 1000;
    }
}

void FfmpegEncode(benchmark::State& state) {
    Input& input = Input::get();
    const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y"
            " -f rawvideo -pix_fmt bgra -s " + std::to_string(kWidth) + "x"
            + std::to_string(kHeight) + " -framerate " + std::to_string(kFps) + " -stream_loop "
            + std::to_string(kSeconds - 1) + " -i '" + input.videoFile.string() + "'"
            + " -f s16le -ar " + std::to_string(kSampleRate) + " -ac "
            + std::to_string(kChannels) + " -i '" + input.audioFile.string() + "'"
            + " -c:v libx264 -pix_fmt yuv420p -profile:v baseline -preset veryfast"
              " -tune zerolatency -bf 0 -g "
            + std::to_string(2 * kFps) + " -x264-params scenecut=0 -b:v "
            + std::to_string(kVideoBitrate) + " -c:a aac -b:a " + std::to_string(kAudioBitrate)
            + " -f null - 2>/dev/null";
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Report(state, wall, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore);
        if (status != 0) {
            state.SkipWithError("ffmpeg failed");
        }
    }
}

// Two runs each, interleaved; the best run of each counts, so that a moment of load from
// elsewhere on the machine does not decide the figures.
BENCHMARK(SdkEncode)->Iterations(1)->Repetitions(2)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(FfmpegEncode)->Iterations(1)->Repetitions(2)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    argc = static_cast<int>(arguments.size());
    argv = arguments.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Input::get();
    pelmar::bench::BestTimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto sdk = reporter.best("SdkEncode");
    const auto ffmpeg = reporter.best("FfmpegEncode");
    std::printf(
            "%d s of %dx%d at %d fps + %d Hz stereo; best of 2: sdk %.0f fps, %.2f s CPU; "
            "ffmpeg %.0f fps, %.2f s CPU\n",
            kSeconds, kWidth, kHeight, kFps, kSampleRate, sdk.wall > 0 ? kFrames / sdk.wall : 0,
            sdk.cpu, ffmpeg.wall > 0 ? kFrames / ffmpeg.wall : 0, ffmpeg.cpu);
    std::printf("live_encode: realtime_factor=%.2f cpu_ratio=%.2f\n",
                sdk.wall > 0 ? kSeconds / sdk.wall : 0.0,
                ffmpeg.cpu > 0 ? sdk.cpu / ffmpeg.cpu : 0.0);
    return 0;
}
