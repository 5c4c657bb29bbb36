#include "pelmar/platform/av/internal/MovieDecoder.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/av/internal/LibavInput.h"
#include "pelmar/platform/image/LibavFrames.h"

namespace pelmar::av::internal {

namespace {

// Decoder threads: enough to keep up with a 1080p movie, few enough to share the machine.
constexpr int kDecoderThreads = 4;

bool isRemote(std::string_view location) {
    return location.starts_with("http://") || location.starts_with("https://");
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

std::unique_ptr<MovieDecoder> MovieDecoder::open(const std::string& location,
                                                 Failure& failure,
                                                 const std::function<bool()>* stop,
                                                 std::shared_ptr<ByteCache> cache) {
    std::unique_ptr<ByteCacheInput> input;
    if (cache) {
        input = std::make_unique<ByteCacheInput>(std::move(cache), stop);
        if (input->context() == nullptr) {
            failure = Failure::Open;
            return nullptr;
        }
    }
    std::optional<Error> error;
    auto format = LibavInput::open(location, isRemote(location), stop, error,
                                   input ? input->context() : nullptr);
    if (!format) {
        failure = Failure::Open;
        return nullptr;
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || codec == nullptr) {
        failure = Failure::NoVideo;
        return nullptr;
    }
    libav::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context
        || avcodec_parameters_to_context(context.get(), format->streams[index]->codecpar) < 0) {
        failure = Failure::Decoder;
        return nullptr;
    }
    context->thread_count = kDecoderThreads;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        failure = Failure::Decoder;
        return nullptr;
    }
    std::unique_ptr<MovieDecoder> decoder(new MovieDecoder());
    decoder->input_ = std::move(input);
    decoder->format_ = std::move(format);
    decoder->codec_ = std::move(context);
    decoder->packet_.reset(av_packet_alloc());
    decoder->stream_ = index;
    if (!decoder->packet_) {
        failure = Failure::Decoder;
        return nullptr;
    }
    return decoder;
}

MovieDecoder::~MovieDecoder() = default;

bool MovieDecoder::isStill() const {
    const AVStream& stream = *format_->streams[stream_];
    return format_->duration <= 0 || (stream.disposition & AV_DISPOSITION_ATTACHED_PIC)
           || (format_->iformat->flags & AVFMT_NOTIMESTAMPS);
}

double MovieDecoder::durationSeconds() const {
    return format_->duration > 0 ? static_cast<double>(format_->duration) / AV_TIME_BASE : 0.0;
}

double MovieDecoder::originSeconds() const {
    if (format_->start_time == AV_NOPTS_VALUE) {
        return 0.0;
    }
    const double start = static_cast<double>(format_->start_time) / AV_TIME_BASE;
    if (format_->duration <= 0) {
        return std::max(0.0, start);
    }
    // The end of the latest stream, less the duration, is where the duration counts from.
    double end = -1;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream& stream = *format_->streams[i];
        if (stream.start_time != AV_NOPTS_VALUE && stream.duration != AV_NOPTS_VALUE
            && stream.time_base.den > 0) {
            end = std::max(end, av_q2d(stream.time_base)
                                        * static_cast<double>(stream.start_time + stream.duration));
        }
    }
    if (end < 0) {
        return std::max(0.0, start);
    }
    const double duration = static_cast<double>(format_->duration) / AV_TIME_BASE;
    return std::clamp(end - duration, 0.0, std::max(0.0, start));
}

int MovieDecoder::quarterTurns() const {
    return LibavInput::quarterTurns(*format_->streams[stream_]);
}

AVRational MovieDecoder::timeBase() const {
    return format_->streams[stream_]->time_base;
}

void MovieDecoder::seek(double seconds) {
    if (seconds <= 0 && !moved_) {
        // Nothing read yet: the first frame is next (also for sources that cannot seek).
        return;
    }
    const AVStream& stream = *format_->streams[stream_];
    const AVRational base = stream.time_base;
    const int64_t first = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
    const int64_t target = seconds > 0 && base.num > 0
                                   ? static_cast<int64_t>(std::floor(seconds * base.den / base.num))
                                   : first;
    av_seek_frame(format_.get(), stream_, std::max(target, first), AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(codec_.get());
    draining_ = false;
    ended_ = false;
}

double MovieDecoder::keyFrameAtOrBefore(double seconds) const {
    const AVRational base = timeBase();
    if (base.num <= 0 || !(seconds >= 0)) {
        return -1;
    }
    const auto target = static_cast<int64_t>(std::floor(seconds * base.den / base.num));
    const AVIndexEntry* entry = avformat_index_get_entry_from_timestamp(
            format_->streams[stream_], target, AVSEEK_FLAG_BACKWARD);
    if (entry == nullptr || (entry->flags & AVINDEX_KEYFRAME) == 0) {
        return -1;
    }
    return static_cast<double>(entry->timestamp) * base.num / base.den;
}

libav::FramePtr MovieDecoder::nextFrame() {
    libav::FramePtr frame(av_frame_alloc());
    if (!frame || ended_) {
        return nullptr;
    }
    moved_ = true;
    while (true) {
        const int received = avcodec_receive_frame(codec_.get(), frame.get());
        if (received == 0) {
            ++framesDecoded_;
            return frame;
        }
        if (received != AVERROR(EAGAIN) || draining_) {
            ended_ = true;
            return nullptr;
        }
        if (av_read_frame(format_.get(), packet_.get()) < 0) {
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index == stream_) {
            // A packet the decoder refuses is skipped: the frames after it may still decode.
            avcodec_send_packet(codec_.get(), packet_.get());
        }
        av_packet_unref(packet_.get());
    }
}

double MovieDecoder::frameSeconds(const AVFrame& frame) const {
    const AVRational base = timeBase();
    const int64_t pts = frame.best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(pts) * base.num / base.den;
}

double MovieDecoder::frameDurationSeconds() const {
    const AVStream& stream = *format_->streams[stream_];
    const AVRational rate =
            stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.0;
}

std::shared_ptr<image::Bitmap> MovieDecoder::picture(const AVFrame& frame,
                                                     int maxWidth,
                                                     int maxHeight,
                                                     bool upright,
                                                     image::PixelFormat format) {
    return convert(frame, maxWidth, maxHeight, upright ? quarterTurns() : 0, format, scaler_);
}

std::shared_ptr<image::Bitmap> MovieDecoder::convert(const AVFrame& frame,
                                                     int maxWidth,
                                                     int maxHeight,
                                                     int turns,
                                                     image::PixelFormat format,
                                                     libav::ScalerPtr& scaler) {
    if (frame.width <= 0 || frame.height <= 0) {
        return nullptr;
    }
    // The limit applies to the picture as shown, so turned sizes are compared with it.
    const double shownW = turns % 2 == 0 ? frame.width : frame.height;
    const double shownH = turns % 2 == 0 ? frame.height : frame.width;
    double scale = 1.0;
    if (maxWidth > 0) {
        scale = std::min(scale, maxWidth / shownW);
    }
    if (maxHeight > 0) {
        scale = std::min(scale, maxHeight / shownH);
    }
    const int width = std::max(1, static_cast<int>(std::lround(frame.width * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(frame.height * scale)));
    const bool bgra = format == image::PixelFormat::BGRA8;
    auto bitmap = image::Bitmap::create(
            width, height,
            {.format = bgra ? image::PixelFormat::BGRA8 : image::PixelFormat::RGBA8,
             .premultiplied = bgra,
             .opaque = bgra});
    if (!bitmap) {
        return nullptr;
    }
    // Kept from frame to frame: a playing movie converts every frame at the same sizes.
    scaler.reset(sws_getCachedContext(scaler.release(), frame.width, frame.height,
                                      static_cast<AVPixelFormat>(frame.format), width, height,
                                      bgra ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA, SWS_BILINEAR,
                                      nullptr, nullptr, nullptr));
    if (!scaler || !image::scaleInto(*scaler, frame.data, frame.linesize, frame.height, *bitmap)) {
        return nullptr;
    }
    return rotate(std::move(bitmap), turns);
}

}  // namespace pelmar::av::internal
