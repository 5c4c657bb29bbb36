#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/image/PictureCodec.h"
#include "pelmar/platform/media/Time.h"

// ImageGenerator: takes still pictures out of a movie file (or decodes a picture file) with
// libavformat/libavcodec, as RGBA bitmaps. For a requested time it seeks to the key frame at or
// before it and decodes forward to the first frame that the tolerances accept: with zero
// tolerance before the time, the first frame at or after it (the exact frame); with the default
// infinite tolerance, the key frame itself. The picture is turned by the video track's display
// rotation when asked and scaled down, keeping its aspect, to fit a maximum size.
// Ownership: a plain object holding the file path and its settings; requests in flight keep their
//     own copy. Bitmaps it makes own their pixels (RGBA, straight alpha, rows packed).
// Threads: thread-compatible; the asynchronous requests work on the global queue, call their
//     handlers there (one request's handlers in the order of its times, one at a time), and may be
//     made from any thread.
// Errors: image::kImageErrorDomain errors: the file cannot be opened or read (kImageErrorOpen),
//     has no video track (kImageErrorNoVideo), no frame decodes (kImageErrorDecode);
//     kImageGeneratorErrorDomain kImageGeneratorErrorPastEnd for a time at or after the movie's
//     end, or an invalid or negative time.
// Limits: frames larger than kMaxPixels are refused.

namespace pelmar::av {

namespace internal {
class MovieDecoder;
}

inline constexpr std::string_view kImageGeneratorErrorDomain = "pelmar.av.imagegenerator";
inline constexpr long kImageGeneratorErrorPastEnd = 1;

class ImageGenerator {
public:
    using Image = std::shared_ptr<const image::Bitmap>;
    using Completion = std::function<void(Image, std::optional<Error>)>;

    enum class Result { Succeeded, Failed };

    // (requested time, picture or null, time of the frame taken, result, error when failed).
    using Handler = std::function<void(media::Time requestedTime,
                                       Image image,
                                       media::Time actualTime,
                                       Result result,
                                       std::optional<Error> error)>;

    static constexpr int64_t kMaxPixels = image::Bitmap::kMaxPixels;

    explicit ImageGenerator(std::filesystem::path path) : path_(std::move(path)) {}

    // Turn the picture by the track's display rotation (multiples of 90 degrees).
    bool appliesPreferredTrackTransform = false;
    // 0: no limit. The picture is scaled down, keeping its aspect, to fit both; never scaled up.
    int maximumWidth = 0;
    int maximumHeight = 0;
    // How far before and after the requested time the frame taken may lie. Infinite (the
    // default) accepts the key frame at or before the time; zero asks for the exact frame. A frame
    // after the time is taken only when no frame lies inside the window (it is the next one).
    media::Time requestedTimeToleranceBefore = media::Time::positiveInfinity();
    media::Time requestedTimeToleranceAfter = media::Time::positiveInfinity();

    // The picture at `time`; `actualTime`, when given, receives the time of the frame taken.
    std::pair<Image, std::optional<Error>> copyImage(media::Time time,
                                                     media::Time* actualTime = nullptr) const;

    // The picture at `seconds`.
    std::pair<Image, std::optional<Error>> copyImage(double seconds) const;

    void generateImageAsynchronously(double seconds, Completion completion) const;

    // Makes the pictures of `times` in order on one worker, from one opening of the movie, and
    // calls `handler` once per requested time, also for a time that fails.
    void generateImagesAsynchronously(std::vector<media::Time> times, Handler handler) const;

private:
    std::pair<Image, std::optional<Error>> copyImage(internal::MovieDecoder& movie,
                                                     media::Time time,
                                                     media::Time* actualTime) const;

    std::filesystem::path path_;
};

}  // namespace pelmar::av
