#include "pelmar/platform/av/ImageGenerator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "pelmar/platform/av/internal/MovieDecoder.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::av {

using image::ImageErrorCode;
using image::kImageErrorDecode;
using image::kImageErrorDomain;
using image::kImageErrorNoVideo;
using image::kImageErrorOpen;

namespace {

// Seconds as a time at this scale: exact for common frame rates.
constexpr int32_t kSecondsTimescale = 600;

Error imageError(ImageErrorCode code, std::string message) {
    return Error{std::string(kImageErrorDomain), code, std::move(message)};
}

Error pastEndError(std::string message) {
    return Error{std::string(kImageGeneratorErrorDomain), kImageGeneratorErrorPastEnd,
                 std::move(message)};
}

// Opens `path` for one request or one batch of requests.
std::unique_ptr<internal::MovieDecoder> openMovie(const std::filesystem::path& path,
                                                  std::optional<Error>& error) {
    internal::MovieDecoder::Failure failure = internal::MovieDecoder::Failure::Open;
    auto decoder = internal::MovieDecoder::open(path.string(), failure);
    if (!decoder) {
        switch (failure) {
            case internal::MovieDecoder::Failure::Open:
                error = imageError(kImageErrorOpen, "cannot open " + path.string());
                break;
            case internal::MovieDecoder::Failure::NoVideo:
                error = imageError(kImageErrorNoVideo, "no video track in " + path.string());
                break;
            case internal::MovieDecoder::Failure::Decoder:
                error = imageError(kImageErrorDecode, "cannot decode " + path.string());
                break;
        }
    }
    return decoder;
}

}  // namespace

std::pair<ImageGenerator::Image, std::optional<Error>> ImageGenerator::copyImage(
        double seconds) const {
    return copyImage(media::Time::makeWithSeconds(seconds, kSecondsTimescale));
}

std::pair<ImageGenerator::Image, std::optional<Error>> ImageGenerator::copyImage(
        media::Time time, media::Time* actualTime) const {
    const double seconds = time.seconds();
    if (!time.isNumeric() || seconds < 0) {
        return {nullptr, pastEndError("invalid time requested from " + path_.string())};
    }
    std::optional<Error> error;
    auto movie = openMovie(path_, error);
    if (!movie) {
        return {nullptr, std::move(error)};
    }
    return copyImage(*movie, time, actualTime);
}

std::pair<ImageGenerator::Image, std::optional<Error>> ImageGenerator::copyImage(
        internal::MovieDecoder& movie, media::Time time, media::Time* actualTime) const {
    const double seconds = time.seconds();
    if (!time.isNumeric() || seconds < 0) {
        return {nullptr, pastEndError("invalid time requested from " + path_.string())};
    }
    // A still picture has no end; a movie has nothing to show from its duration on.
    if (!movie.isStill() && seconds > 0 && seconds >= movie.durationSeconds()) {
        return {nullptr, pastEndError("time " + std::to_string(seconds) + " s is past the end of "
                                      + path_.string())};
    }
    const AVRational base = movie.timeBase();
    const auto toStream = [&](double s) {
        return base.num > 0 ? static_cast<int64_t>(std::floor(s * base.den / base.num)) : 0;
    };
    // The earliest frame the tolerance before the time accepts.
    const double before = requestedTimeToleranceBefore.seconds();
    const int64_t earliest = std::isfinite(before) && before >= 0
                                     ? toStream(std::max(0.0, seconds - before))
                                     : std::numeric_limits<int64_t>::min();
    movie.seek(seconds);
    libav::FramePtr chosen;
    libav::FramePtr latest;  // the time may fall inside the last frame
    while (auto frame = movie.nextFrame()) {
        const int64_t pts = frame->best_effort_timestamp;
        if (seconds <= 0 || pts == AV_NOPTS_VALUE || pts >= earliest) {
            chosen = std::move(frame);
            break;
        }
        latest = std::move(frame);
    }
    if (!chosen) {
        chosen = std::move(latest);
    }
    if (!chosen || chosen->width <= 0 || chosen->height <= 0
        || static_cast<int64_t>(chosen->width) * chosen->height > kMaxPixels) {
        return {nullptr, imageError(kImageErrorDecode, "no frame decoded from " + path_.string())};
    }
    if (actualTime != nullptr) {
        const int64_t pts = chosen->best_effort_timestamp;
        *actualTime = pts == AV_NOPTS_VALUE || base.num <= 0 || base.den > INT32_MAX
                              ? time
                              : media::Time::make(pts * base.num, static_cast<int32_t>(base.den));
    }
    auto shown = movie.picture(*chosen, maximumWidth, maximumHeight, appliesPreferredTrackTransform,
                               image::PixelFormat::RGBA8);
    if (!shown) {
        return {nullptr, imageError(kImageErrorDecode, "cannot convert a frame")};
    }
    return {std::move(shown), std::nullopt};
}

void ImageGenerator::generateImageAsynchronously(double seconds, Completion completion) const {
    dispatch::Queue::global()->async(
            [generator = *this, seconds, completion = std::move(completion)] {
                auto [image, error] = generator.copyImage(seconds);
                if (completion) {
                    completion(std::move(image), std::move(error));
                }
            });
}

void ImageGenerator::generateImagesAsynchronously(std::vector<media::Time> times,
                                                  Handler handler) const {
    dispatch::Queue::global()->async([generator = *this, times = std::move(times),
                                      handler = std::move(handler)] {
        // One open movie serves the whole batch; a movie that does not open fails every time.
        std::optional<Error> openError;
        auto movie = openMovie(generator.path_, openError);
        for (const media::Time& time : times) {
            media::Time actual;
            auto [image, error] =
                    movie ? generator.copyImage(*movie, time, &actual)
                          : std::pair<Image, std::optional<Error>>{nullptr, openError};
            if (!handler) {
                continue;
            }
            if (error) {
                handler(time, nullptr, media::Time::invalid(), Result::Failed, std::move(error));
            } else {
                handler(time, std::move(image), actual, Result::Succeeded, std::nullopt);
            }
        }
    });
}

}  // namespace pelmar::av
