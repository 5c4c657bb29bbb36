// upload-progress: uploads a picture to the hosting service and shows the upload's progress.
//
//   pelmar-service &           # prints: api URL, cdn-api URL, dev-api URL, file-server URL
//   upload-progress --api URL --cdn-api URL --dev-api URL --file-server URL
//
// The facade answers on the main run loop, so the host pumps it (here with a ScreenHost, which
// also gives the SDK the key window its screens would need). Exits 0 once the service has
// confirmed the upload, 1 when it fails.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "ServiceOptions.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/host/ScreenHost.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/image/ImageEncoder.h"

namespace {

// A 640 x 480 colour gradient, as a JPEG file.
bool writePicture(const std::filesystem::path& file) {
    auto picture = pelmar::image::Bitmap::create(640, 480, pelmar::image::PixelFormat::RGBA8);
    for (int y = 0; y < picture->height(); ++y) {
        uint8_t* row = picture->row(y);
        for (int x = 0; x < picture->width(); ++x) {
            uint8_t* p = row + x * 4;
            p[0] = static_cast<uint8_t>(x * 255 / 640);
            p[1] = static_cast<uint8_t>(y * 255 / 480);
            p[2] = 160;
            p[3] = 255;
        }
    }
    const auto jpeg = pelmar::image::ImageEncoder::encodeJPEG(*picture, 0.9);
    std::ofstream out(file, std::ios::binary);
    out.write(jpeg ? jpeg->data() : "", jpeg ? static_cast<std::streamsize>(jpeg->size()) : 0);
    return jpeg && out;
}

}  // namespace

int main(int argc, char** argv) {
    const auto service = example::ServiceOptions::parse(argc, argv);
    if (!service) {
        return 2;
    }
    pelmar::ScreenHost host;
    auto sdk = std::make_shared<pelmar::Pelmar>("example-app");
    service->apply(*sdk);

    const auto file = std::filesystem::temp_directory_path() / "pelmar-example-photo.jpg";
    if (!writePicture(file)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    bool done = false;
    std::optional<pelmar::Error> failure;
    sdk->uploadFromPath(
            file.string(), std::nullopt,
            [&](std::optional<pelmar::Json>, auto, std::optional<pelmar::Error> error) {
                // The storage answer; the confirm follows.
                if (error) {
                    failure = error;
                    done = true;
                }
            },
            [](int64_t sent, int64_t expected) {
                const int percent = expected > 0 ? static_cast<int>(sent * 100 / expected) : 0;
                std::printf("\rprogress %3d%% (%lld of %lld bytes)", percent,
                            static_cast<long long>(sent), static_cast<long long>(expected));
                std::fflush(stdout);
            },
            [&](std::optional<pelmar::Json> answer, auto, std::optional<pelmar::Error> error) {
                failure = error;
                if (answer && !error) {
                    std::printf("\nconfirmed: %s\n", answer->dump().c_str());
                }
                done = true;
            });
    if (!host.runUntil([&] { return done; }, 60)) {
        std::fprintf(stderr, "\nthe upload did not finish within 60 s\n");
        return 1;
    }
    std::filesystem::remove(file);
    if (failure) {
        std::fprintf(stderr, "\nthe upload failed: %s\n", failure->description().c_str());
        return 1;
    }
    return 0;
}
