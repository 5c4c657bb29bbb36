#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/image/PictureCodec.h"

// ImageGenerator: takes a still picture out of a movie file (or decodes a picture file) with
// libavformat/libavcodec: the first frame at or after a time, turned by the video track's display
// rotation when asked, scaled down to fit a maximum size, as an RGBA bitmap.
// Ownership: a plain object holding the file path and its settings; bitmaps it makes own their
//     pixels (RGBA, straight alpha, rows packed).
// Threads: thread-compatible; generateImageAsynchronously() works on the global queue and calls its
//     completion there, and may be called from any thread.
// Errors: image::kImageErrorDomain errors: the file cannot be opened or has no video track
//     (kImageErrorNoVideo), no frame decodes (kImageErrorDecode).
// Limits: frames larger than kMaxPixels are refused.

namespace pelmar::av {

class ImageGenerator {
public:
    using Image = std::shared_ptr<const image::Bitmap>;
    using Completion = std::function<void(Image, std::optional<Error>)>;

    static constexpr int64_t kMaxPixels = image::Bitmap::kMaxPixels;

    explicit ImageGenerator(std::filesystem::path path) : path_(std::move(path)) {}

    // Turn the picture by the track's display rotation (multiples of 90 degrees).
    bool appliesPreferredTrackTransform = false;
    // 0: no limit. The picture is scaled down, keeping its aspect, to fit both.
    int maximumWidth = 0;
    int maximumHeight = 0;

    // The picture at `seconds` (the first frame at or after it; the last frame when the movie is
    // shorter).
    std::pair<Image, std::optional<Error>> copyImage(double seconds) const;

    void generateImageAsynchronously(double seconds, Completion completion) const;

private:
    std::filesystem::path path_;
};

}  // namespace pelmar::av
