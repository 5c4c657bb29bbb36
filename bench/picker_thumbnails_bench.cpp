// Thumbnails for the media picker: 256-pixel pictures of 500 library images (JPEG and PNG at
// 640x480, 1920x1440 and 4032x3024) through the photo library's image manager, against
// `vipsthumbnail --size 256` on the same files in the same run. Each side runs three times; the
// best times are compared. The last line gives our time over vips's and the process's peak
// resident memory (the fixtures are made by the ffmpeg program, outside this process).
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/photos/PhotoLibrary.h"

namespace {

constexpr int kImages = 500;
constexpr double kSide = 256;

int run(const std::string& command) {
    return std::system(command.c_str());
}

// The six distinct pictures, each linked under many names.
std::vector<std::filesystem::path> makeFixtures(const std::filesystem::path& folder) {
    const std::pair<int, int> sizes[] = {{640, 480}, {1920, 1440}, {4032, 3024}};
    std::vector<std::filesystem::path> sources;
    for (const auto& [w, h] : sizes) {
        for (const char* ext : {"jpg", "png"}) {
            const auto file = folder / ("source_" + std::to_string(w) + "." + ext);
            const std::string command =
                    "ffmpeg -y -loglevel error -f lavfi -i testsrc2=size=" + std::to_string(w) + "x"
                    + std::to_string(h) + " -frames:v 1 '" + file.string() + "'";
            if (run(command) != 0) {
                std::fprintf(stderr, "cannot make %s\n", file.c_str());
                std::exit(1);
            }
            sources.push_back(file);
        }
    }
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < kImages; ++i) {
        const auto& source = sources[static_cast<std::size_t>(i) % sources.size()];
        const auto file = folder / ("image_" + std::to_string(i) + source.extension().string());
        std::filesystem::create_hard_link(source, file);
        files.push_back(file);
    }
    return files;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double ours(const std::vector<pelmar::photos::AssetPtr>& assets) {
    // A fresh manager: nothing comes from an earlier run's cache.
    auto manager = std::make_shared<pelmar::photos::ImageManager>();
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
    const auto start = std::chrono::steady_clock::now();
    for (const auto& asset : assets) {
        manager->requestImage(
                asset, {kSide, kSide}, pelmar::photos::ImageContentMode::AspectFit, {},
                [&](std::shared_ptr<pelmar::image::Bitmap> bitmap, const auto&) {
                    if (!bitmap || std::max(bitmap->width(), bitmap->height()) != kSide) {
                        ++failed;
                    }
                    ++done;
                });
    }
    pelmar::dispatch::RunLoop::runUntil([&] { return done.load() == kImages; }, 600);
    const double seconds = secondsSince(start);
    if (failed.load() != 0) {
        std::fprintf(stderr, "%d thumbnails were wrong\n", failed.load());
        std::exit(1);
    }
    return seconds;
}

double vips(const std::vector<std::filesystem::path>& files, const std::filesystem::path& out) {
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    std::string command = "vipsthumbnail --size 256 -o '" + out.string() + "/%s.jpg'";
    for (const auto& file : files) {
        command += " '" + file.string() + "'";
    }
    const auto start = std::chrono::steady_clock::now();
    if (run(command) != 0) {
        std::fprintf(stderr, "vipsthumbnail failed (Debian package libvips-tools)\n");
        std::exit(1);
    }
    return secondsSince(start);
}

}  // namespace

int main() {
    std::string pattern =
            (std::filesystem::temp_directory_path() / "pelmar-picker-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    const auto files = makeFixtures(folder);
    auto& library = pelmar::photos::PhotoLibrary::shared();
    library.reset(folder / "library");
    library.setAuthorizationStatus(pelmar::photos::AuthorizationStatus::Authorized);
    std::vector<pelmar::photos::AssetPtr> assets;
    for (const auto& file : files) {
        const auto added = library.addAsset({.file = file});
        assets.push_back(library.asset(added.localIdentifier));
    }
    double best = 1e9;
    double peer = 1e9;
    for (int round = 0; round < 3; ++round) {
        best = std::min(best, ours(assets));
        peer = std::min(peer, vips(files, folder / "vips"));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::printf("ours %.3f s, vipsthumbnail %.3f s for %d images\n", best, peer, kImages);
    std::printf("picker_thumbnails: ratio=%.2f peak_rss_mib=%.0f\n", best / peer, peakMiB);
    std::filesystem::remove_all(folder);
    return 0;
}
