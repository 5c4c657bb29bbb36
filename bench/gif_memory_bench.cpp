// Animated GIF playback memory: a 100-frame 500x500 GIF played by the animated image view on the
// display link at 60 Hz for 10 s of clock time, each refresh given its real 1/60 s for decoding
// ahead. Reports the most the frame cache ever held against the window the memory budget allows
// (window frames plus the one being decoded), and how many refreshes after a 0.5 s warm-up found
// their frame not decoded. At the 256 MiB budget the window is 0 frames (one frame is above
// 1/500 of memory), so frames are decoded on request; the 1 GiB line shows the decode-ahead path.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "pelmar/imageloader/PelmarAnimatedImageView.h"
#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"
#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/Window.h"

namespace {

using namespace pelmar;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kRefresh = 1.0 / 60;
constexpr double kPlaySeconds = 10;
constexpr double kWarmUpSeconds = 0.5;

struct Playback {
    double peakMiB = 0;
    double windowMiB = 0;
    std::size_t windowFrames = 0;
    int missedTicks = 0;
    uint64_t framesShown = 0;
};

Playback play(const std::string& gif, uint64_t budget) {
    dispatch::test::resetMainLoop(std::make_shared<dispatch::ManualClock>());
    auto window = std::make_shared<ui::Window>(ui::Screen::main().bounds());
    window->makeKeyAndVisible();
    auto image = PelmarCachedAnimatedImage::createWithAnimatedImageData(gif, budget);
    auto view = std::make_shared<PelmarAnimatedImageView>(ui::Rect{0, 0, 250, 250});
    window->addSubview(view);
    view->setAnimatedImage(image);
    dispatch::RunLoop::runUntil([&] { return view->isAnimating(); }, 30);

    Playback outcome;
    outcome.windowFrames = image->framesToCache();
    std::size_t lastFrame = PelmarAnimatedImageView::kNoFrame;
    const int ticks = static_cast<int>(kPlaySeconds / kRefresh);
    for (int tick = 0; tick < ticks; ++tick) {
        dispatch::RunLoop::advance(kRefresh);
        if (!view->isAnimating()) {
            if (tick * kRefresh >= kWarmUpSeconds) {
                ++outcome.missedTicks;
            }
            dispatch::RunLoop::runUntil([&] { return view->isAnimating(); }, 30);
        }
        if (view->lastSuccessfulFrameIndex() != lastFrame) {
            lastFrame = view->lastSuccessfulFrameIndex();
            ++outcome.framesShown;
        }
        // The refresh's real time, in which the caching queue decodes ahead.
        dispatch::RunLoop::runUntil([] { return false; }, kRefresh);
    }
    const double frameBytes = static_cast<double>(image->animatedImage()->bytesPerFrame());
    outcome.peakMiB = static_cast<double>(image->peakFrameCacheBytes()) / kMiB;
    outcome.windowMiB = static_cast<double>(outcome.windowFrames + 1) * frameBytes / kMiB;
    view->removeFromSuperview();
    dispatch::test::resetMainLoop(nullptr);
    return outcome;
}

// The peer: decoding every frame of the same GIF straight through, for scale.
void DecodeAllFrames(benchmark::State& state) {
    static const std::string gif = image::test::patternGif(500, 500, 100, 2);
    for (auto _ : state) {
        auto animated = PelmarCachedAnimatedImage::createWithAnimatedImageData(gif, 1);
        for (std::size_t i = 0; i < animated->frameCount(); ++i) {
            benchmark::DoNotOptimize(animated->animatedImage()->imageAtIndex(i, nullptr));
        }
    }
}

BENCHMARK(DecodeAllFrames)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // 2 hundredths of a second a frame: a new frame on most refreshes of a 60 Hz screen.
    const std::string gif = image::test::patternGif(500, 500, 100, 2);
    const Playback large = play(gif, 1ULL << 30);
    std::printf(
            "gif_memory_1gib: window_frames=%zu peak_frame_cache_mib=%.2f window_mib=%.2f "
            "missed_ticks=%d frames_shown=%llu\n",
            large.windowFrames, large.peakMiB, large.windowMiB, large.missedTicks,
            static_cast<unsigned long long>(large.framesShown));
    const Playback budget = play(gif, 256ULL << 20);
    std::printf("gif_memory: peak_frame_cache_mib=%.2f window_mib=%.2f missed_ticks=%d\n",
                budget.peakMiB, budget.windowMiB, budget.missedTicks);
    return 0;
}
