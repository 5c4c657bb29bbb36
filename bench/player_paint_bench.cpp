// Painting the playing player screen (the facade's playFromUri) once per movie frame under a
// manual clock, as a host app does with ScreenHost::render, on a 10 s 1280x720 30 fps H.264 movie
// with one key frame; then the same movie from nginx on loopback, painted once per frame for
// 3 s, counting the bytes the server sent against the file's size. Budget: one 60 Hz frame.
//
// Between two frames the bench lets one frame interval (1/30 s) of real time pass, as a display
// does: the player decodes off the main thread in that time, and the paint that follows is timed
// (one paint per frame). The local movie is then played once more with no time between frames,
// so that the manual clock outruns the decoder and each paint waits for its picture; that
// figure, the decoder's own pace, is printed after the main ones.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/host/ScreenHost.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/player/PelmarPlayerController.h"
#include "testing/NginxHttpServer.h"
#include "testing/TempDir.h"

namespace {

using namespace pelmar;

constexpr int kRate = 30;
constexpr double kBudgetMilliseconds = 1000.0 / 60;

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

double millisecondsOf(ScreenHost& host) {
    const auto start = std::chrono::steady_clock::now();
    auto painted = host.render();
    const auto end = std::chrono::steady_clock::now();
    if (!painted) {
        std::fprintf(stderr, "player_paint: the screen was not painted\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Plays `url` through the facade and paints every frame of its first `seconds`, letting
// `interval` of real time pass before each paint.
std::vector<double> playAndPaint(ScreenHost& host,
                                 Pelmar& sdk,
                                 const std::string& url,
                                 double seconds,
                                 std::chrono::milliseconds interval) {
    sdk.playFromUri({url});
    std::shared_ptr<PelmarPlayerController> screen;
    const bool playing = host.runUntil(
            [&] {
                screen =
                        std::dynamic_pointer_cast<PelmarPlayerController>(host.topViewController());
                return screen && screen->isAppeared() && screen->player()
                       && screen->player()->timeControlStatus.get()
                                  == av::Player::TimeControlStatus::Playing;
            },
            60);
    if (!playing) {
        std::fprintf(stderr, "player_paint: %s did not start playing\n", url.c_str());
        std::exit(1);
    }
    std::vector<double> paints;
    const int frames = static_cast<int>(seconds * kRate);
    for (int i = 0; i < frames; ++i) {
        std::this_thread::sleep_for(interval);
        paints.push_back(millisecondsOf(host));
        host.runFor(1.0 / kRate);
    }
    screen->player()->pause();
    screen->dismiss(false);
    host.finishTransitions();
    host.runUntil([&] { return host.topViewController() == host.root(); }, 30);
    return paints;
}

}  // namespace

int main() {
    ::setenv("PELMAR_RESOURCE_DIR", PELMAR_SOURCE_DIR "/pelmar/player/resources", 0);
    dispatch::setClock(std::make_shared<dispatch::ManualClock>());
    test::NginxHttpServer server;
    server.Start();
    const std::filesystem::path movie = server.root() / "movie.mp4";
    // One key frame: every frame but the first is as far from a key frame as it can be.
    std::string failure;
    if (!av::test::TestMovie(10, 1280, 720, kRate, 10 * kRate).make(movie, &failure)) {
        std::fprintf(stderr, "player_paint: %s\n", failure.c_str());
        return 1;
    }
    const auto fileBytes = static_cast<double>(std::filesystem::file_size(movie));
    constexpr auto kFrameInterval = std::chrono::milliseconds(1000 / kRate);
    std::vector<double> local;
    std::vector<double> outrun;
    int64_t sent = 0;
    {
        ScreenHost host;
        auto sdk = std::make_shared<Pelmar>("bench-app");
        local = playAndPaint(host, *sdk, movie.string(), 10, kFrameInterval);
        playAndPaint(host, *sdk, server.Url("/movie.mp4"), 3, kFrameInterval);
        outrun = playAndPaint(host, *sdk, movie.string(), 10, std::chrono::milliseconds(0));
    }
    ScreenHost::settle();
    // Connections closed with the player are logged once nginx has finished them.
    server.WaitForRequests([&](const std::vector<test::NginxRequest>& requests) {
        int64_t total = 0;
        for (const auto& request : requests) {
            total += request.bodyBytes;
        }
        return total >= static_cast<int64_t>(fileBytes);
    });
    for (const auto& request : server.requests()) {
        sent += request.bodyBytes;
        std::fprintf(stderr, "  %s %d range=%s bytes=%lld\n", request.uri.c_str(), request.status,
                     request.range.value_or("-").c_str(),
                     static_cast<long long>(request.bodyBytes));
    }
    std::printf(
            "player_paint: median_ms=%.2f p95_ms=%.2f remote_fetch_ratio=%.2f "
            "(budget %.1f ms; with no time between frames median_ms=%.2f p95_ms=%.2f)\n",
            percentile(local, 0.5), percentile(local, 0.95), static_cast<double>(sent) / fileBytes,
            kBudgetMilliseconds, percentile(outrun, 0.5), percentile(outrun, 0.95));
    return 0;
}
