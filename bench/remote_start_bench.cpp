// Time to the first picture of a remote movie served by nginx on loopback at 500 KB/s: the movie
// with its index at the end (as cameras write it) against the same movie with its index first
// ("faststart"). A player that fetches only the ranges it reads starts both about as soon; one
// that must fetch the whole file before it can probe the first waits for all of it. Each movie is
// played kRuns times on a real clock, under its own name, and the median is kept. Goal: ratio
// <= 1.5.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "testing/NginxHttpServer.h"

namespace {

using namespace pelmar;

constexpr int64_t kBytesPerSecond = 500 * 1000;
constexpr int kRuns = 3;

// Seconds from making the item to its first picture; negative when none came.
double secondsToFirstPicture(const std::string& url) {
    const auto start = std::chrono::steady_clock::now();
    auto player = std::make_shared<av::Player>(av::PlayerItem::create(url));
    player->play();
    const bool shown = dispatch::RunLoop::runUntil(
            [&] { return player->currentPicture(320, 180) != nullptr; }, 60);
    const auto end = std::chrono::steady_clock::now();
    return shown ? std::chrono::duration<double>(end - start).count() : -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    test::NginxHttpServer server(kBytesPerSecond);
    server.Start();
    av::test::TestMovie movie(10, 1280, 720, 30, 30);
    movie.extraOptions = "-b:v 3500k";
    std::string failure;
    if (!movie.make(server.root() / "faststart.mp4", &failure)) {
        std::fprintf(stderr, "remote_start: %s\n", failure.c_str());
        return 1;
    }
    movie.indexAtEnd = true;
    if (!movie.make(server.root() / "index-at-end.mp4", &failure)) {
        std::fprintf(stderr, "remote_start: %s\n", failure.c_str());
        return 1;
    }
    std::vector<double> atEnd;
    std::vector<double> first;
    for (int run = 0; run < kRuns; ++run) {
        for (const auto& [name, times] :
             {std::make_pair("index-at-end", &atEnd), std::make_pair("faststart", &first)}) {
            const std::string copy = std::string(name) + "-" + std::to_string(run) + ".mp4";
            std::filesystem::copy_file(server.root() / (std::string(name) + ".mp4"),
                                       server.root() / copy);
            const double seconds = secondsToFirstPicture(server.Url("/slow/" + copy));
            if (seconds < 0) {
                std::fprintf(stderr, "remote_start: %s showed no picture\n", copy.c_str());
                return 1;
            }
            times->push_back(seconds);
        }
    }
    const double a = median(atEnd);
    const double b = median(first);
    std::fprintf(
            stderr, "  movie: %lld bytes at %lld bytes/s\n",
            static_cast<long long>(std::filesystem::file_size(server.root() / "faststart.mp4")),
            static_cast<long long>(kBytesPerSecond));
    std::printf("remote_start: index_at_end_s=%.2f faststart_s=%.2f ratio=%.2f (goal <= 1.5)\n", a,
                b, a / b);
    return 0;
}
