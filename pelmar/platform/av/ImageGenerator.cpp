#include "pelmar/platform/av/ImageGenerator.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/image/LibavFrames.h"
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

// Clockwise quarter turns the picture needs to show upright (0..3).
int quarterTurns(const AVStream& stream) {
    const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix == nullptr) {
        return 0;
    }
    const double degrees = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(degrees)) {
        return 0;
    }
    const long turns = std::lround(degrees / 90.0);
    return static_cast<int>(((turns % 4) + 4) % 4);
}

// `source` turned clockwise by `turns` quarter turns.
std::shared_ptr<image::Bitmap> rotate(std::shared_ptr<image::Bitmap> source, int turns) {
    if (turns == 0 || !source) {
        return source;
    }
    const int w = source->width();
    const int h = source->height();
    const int outW = turns % 2 == 0 ? w : h;
    const int outH = turns % 2 == 0 ? h : w;
    auto out = image::Bitmap::create(outW, outH, source->layout());
    if (!out) {
        return nullptr;
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int nx = x;
            int ny = y;
            if (turns == 1) {
                nx = h - 1 - y;
                ny = x;
            } else if (turns == 2) {
                nx = w - 1 - x;
                ny = h - 1 - y;
            } else {
                nx = y;
                ny = w - 1 - x;
            }
            std::copy_n(source->pixel(x, y), 4, out->row(ny) + static_cast<size_t>(nx) * 4);
        }
    }
    return out;
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
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path_.c_str(), nullptr, nullptr) < 0) {
        return {nullptr, imageError(kImageErrorOpen, "cannot open " + path_.string())};
    }
    libav::InputFormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return {nullptr, imageError(kImageErrorOpen, "cannot read " + path_.string())};
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || codec == nullptr) {
        return {nullptr, imageError(kImageErrorNoVideo, "no video track in " + path_.string())};
    }
    const AVStream& stream = *format->streams[index];
    // A still picture has no end; a movie has nothing to show from its duration on.
    const bool still = format->duration <= 0 || (stream.disposition & AV_DISPOSITION_ATTACHED_PIC)
                       || format->iformat->flags & AVFMT_NOTIMESTAMPS;
    if (!still && seconds > 0 && seconds >= static_cast<double>(format->duration) / AV_TIME_BASE) {
        return {nullptr, pastEndError("time " + std::to_string(seconds) + " s is past the end of "
                                      + path_.string())};
    }
    libav::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0
        || avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return {nullptr, imageError(kImageErrorDecode, "cannot decode " + path_.string())};
    }
    const AVRational base = stream.time_base;
    const auto toStream = [&](double s) {
        return base.num > 0 ? static_cast<int64_t>(std::floor(s * base.den / base.num)) : 0;
    };
    const int64_t target = toStream(seconds);
    // The earliest frame the tolerance before the time accepts.
    const double before = requestedTimeToleranceBefore.seconds();
    const int64_t earliest = std::isfinite(before) && before >= 0
                                     ? toStream(std::max(0.0, seconds - before))
                                     : std::numeric_limits<int64_t>::min();
    if (seconds > 0) {
        av_seek_frame(format.get(), index, target, AVSEEK_FLAG_BACKWARD);
    }

    libav::PacketPtr packet(av_packet_alloc());
    libav::FramePtr frame(av_frame_alloc());
    libav::FramePtr chosen;
    libav::FramePtr latest;  // the time may fall inside the last frame
    bool draining = false;
    bool done = false;
    while (!done) {
        if (!draining) {
            if (av_read_frame(format.get(), packet.get()) < 0) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                if (packet->stream_index == index) {
                    avcodec_send_packet(decoder.get(), packet.get());
                }
                av_packet_unref(packet.get());
            }
        }
        int received = 0;
        while ((received = avcodec_receive_frame(decoder.get(), frame.get())) == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (seconds <= 0 || pts == AV_NOPTS_VALUE || pts >= earliest) {
                chosen.reset(av_frame_clone(frame.get()));
                done = true;
                break;
            }
            latest.reset(av_frame_clone(frame.get()));
        }
        if (draining && received == AVERROR_EOF) {
            done = true;
        }
        if (draining && received != 0 && received != AVERROR(EAGAIN) && received != AVERROR_EOF) {
            done = true;
        }
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

    const int turns = appliesPreferredTrackTransform ? quarterTurns(stream) : 0;
    // The limit applies to the picture as shown, so turned sizes are compared with it.
    const double shownW = turns % 2 == 0 ? chosen->width : chosen->height;
    const double shownH = turns % 2 == 0 ? chosen->height : chosen->width;
    double scale = 1.0;
    if (maximumWidth > 0) {
        scale = std::min(scale, maximumWidth / shownW);
    }
    if (maximumHeight > 0) {
        scale = std::min(scale, maximumHeight / shownH);
    }
    const int width = std::max(1, static_cast<int>(std::lround(chosen->width * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(chosen->height * scale)));
    auto shown = rotate(image::toBitmap(*chosen, width, height), turns);
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
        for (const media::Time& time : times) {
            media::Time actual;
            auto [image, error] = generator.copyImage(time, &actual);
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
