#include "pelmar/live/internal/H264EncoderCpp.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Console.h"

namespace pelmar::live::internal {
namespace {

// The NAL units of an Annex-B byte stream (start codes 00 00 01 or 00 00 00 01), without their
// start codes and without the zero bytes that precede the next start code.
std::vector<std::pair<const uint8_t*, size_t>> splitAnnexB(const uint8_t* data, size_t size) {
    std::vector<std::pair<const uint8_t*, size_t>> units;
    size_t start = SIZE_MAX;
    size_t i = 0;
    auto close = [&](size_t end) {
        if (start == SIZE_MAX) {
            return;
        }
        while (end > start && data[end - 1] == 0) {
            --end;
        }
        if (end > start) {
            units.emplace_back(data + start, end - start);
        }
    };
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            close(i);
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    close(size);
    return units;
}

void appendLengthPrefixed(std::vector<uint8_t>& out, const uint8_t* unit, size_t size) {
    const auto length = static_cast<uint32_t>(size);
    out.push_back(static_cast<uint8_t>(length >> 24));
    out.push_back(static_cast<uint8_t>(length >> 16));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), unit, unit + size);
}

// A converter from `width` x `height` pictures of `format` to the session's I420, working on
// slices of the picture in parallel as the ffmpeg command line's scaler does.
libav::ScalerPtr makeScalerFor(
        int width, int height, AVPixelFormat format, int targetWidth, int targetHeight) {
    libav::ScalerPtr scaler(sws_alloc_context());
    if (!scaler) {
        return nullptr;
    }
    SwsContext* s = scaler.get();
    av_opt_set_int(s, "srcw", width, 0);
    av_opt_set_int(s, "srch", height, 0);
    av_opt_set_int(s, "src_format", format, 0);
    av_opt_set_int(s, "dstw", targetWidth, 0);
    av_opt_set_int(s, "dsth", targetHeight, 0);
    av_opt_set_int(s, "dst_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(s, "sws_flags", SWS_BICUBIC, 0);
    av_opt_set_int(s, "threads", 0, 0);  // one per processor
    if (sws_init_context(s, nullptr, nullptr) < 0) {
        return nullptr;
    }
    return scaler;
}

// A side of `length` pixels, scaled by `numerator` / `denominator`, rounded to an even number of
// pixels (the chroma planes have half as many) and kept within 2..`limit`.
int evenSide(int length, int numerator, int denominator, int limit) {
    const double exact = static_cast<double>(length) * numerator / denominator;
    const int even = 2 * static_cast<int>(std::lround(exact / 2));
    return std::clamp(even, 2, limit);
}

void printSetupFailure(const std::string& reason) {
    foundation::Console::print("H.264 encoder initialization failed: " + reason);
}

void printFrameFailure(const std::string& reason) {
    foundation::Console::print("H.264 encoder: " + reason);
}

}  // namespace

H264EncoderCpp::H264EncoderCpp(int width, int height, int bitrate, int fps, Output output)
    : width_(width), height_(height), bitrate_(bitrate), fps_(fps), delivery_(std::move(output)) {
    initCompressionSession();
}

H264EncoderCpp::~H264EncoderCpp() = default;

bool H264EncoderCpp::isValid() const {
    MutexLock lock(mutex_);
    return context_ != nullptr;
}

void H264EncoderCpp::initCompressionSession() {
    MutexLock lock(mutex_);
    if (width_ < 2 || height_ < 2 || width_ > kMaxDimension || height_ > kMaxDimension
        || width_ % 2 != 0 || height_ % 2 != 0) {
        printSetupFailure("unsupported size " + std::to_string(width_) + "x"
                          + std::to_string(height_));
        return;
    }
    if (fps_ < 1 || fps_ > kMaxFrameRate) {
        printSetupFailure("unsupported frame rate " + std::to_string(fps_));
        return;
    }
    if (bitrate_ < 1 || bitrate_ > kMaxBitrate) {
        printSetupFailure("unsupported bitrate " + std::to_string(bitrate_));
        return;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        printSetupFailure("libx264 not available");
        return;
    }
    libav::CodecContextPtr context(avcodec_alloc_context3(codec));
    libav::FramePtr picture(av_frame_alloc());
    libav::FramePtr source(av_frame_alloc());
    libav::FramePtr fitted(av_frame_alloc());
    libav::PacketPtr packet(av_packet_alloc());
    if (!context || !picture || !source || !fitted || !packet) {
        printSetupFailure("out of memory");
        return;
    }
    context->width = width_;
    context->height = height_;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    // Pictures are numbered 0, 1, 2 ... in units of 1/fps: the rate control sees a steady frame
    // rate whatever the spacing of the given times, which travel beside the encoder.
    context->time_base = AVRational{1, fps_};
    context->framerate = AVRational{fps_, 1};
    context->bit_rate = bitrate_;
    context->gop_size = 2 * fps_;
    context->max_b_frames = 0;
    // SPS and PPS go to the format description rather than in front of every key frame.
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context->priv_data, "preset", "veryfast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    // Key frames come at the fixed interval only, never early at a scene change, so that
    // servers can cut the stream into segments of equal length.
    av_opt_set(context->priv_data, "x264-params", "scenecut=0", 0);
    int status = avcodec_open2(context.get(), codec, nullptr);
    if (status < 0) {
        printSetupFailure(libav::avErrorText(status));
        return;
    }
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    for (const auto& [unit, size] :
         splitAnnexB(context->extradata, static_cast<size_t>(context->extradata_size))) {
        const int type = unit[0] & 0x1F;
        if (type == 7 && sps.empty()) {
            sps.assign(unit, unit + size);
        } else if (type == 8 && pps.empty()) {
            pps.assign(unit, unit + size);
        }
    }
    if (sps.empty() || pps.empty()) {
        printSetupFailure("no SPS or PPS from libx264");
        return;
    }
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width_;
    picture->height = height_;
    status = av_frame_get_buffer(picture.get(), 0);
    if (status < 0) {
        printSetupFailure(libav::avErrorText(status));
        return;
    }
    auto pool = media::PixelBufferPool::create(width_, height_, media::PixelFormat::BGRA32,
                                               kPixelBufferPoolSize);
    if (!pool) {
        printSetupFailure("no pixel buffer pool");
        return;
    }
    format_ = media::FormatDescription::forH264(width_, height_, std::move(sps), std::move(pps));
    pool_ = std::move(pool);
    context_ = std::move(context);
    picture_ = std::move(picture);
    source_ = std::move(source);
    fitted_ = std::move(fitted);
    packet_ = std::move(packet);
}

void H264EncoderCpp::putFrame(const std::shared_ptr<media::PixelBuffer>& pixelBuffer,
                              media::Time pts) {
    encode(pixelBuffer, pts);
    delivery_.deliver();
}

void H264EncoderCpp::encode(const std::shared_ptr<media::PixelBuffer>& pixelBuffer,
                            media::Time pts) {
    MutexLock lock(mutex_);
    if (!context_) {
        return;
    }
    if (!pixelBuffer) {
        printFrameFailure("no picture; frame dropped");
        return;
    }
    if (!pts.isNumeric()) {
        printFrameFailure("invalid presentation time; frame dropped");
        return;
    }
    const AVPixelFormat sourceFormat =
            pixelBuffer->format() == media::PixelFormat::BGRA32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
    if (!scaler_ || scalerWidth_ != pixelBuffer->width() || scalerHeight_ != pixelBuffer->height()
        || scalerFormat_ != sourceFormat) {
        fit_ = fitInside(pixelBuffer->width(), pixelBuffer->height());
        scaler_ = makeScalerFor(pixelBuffer->width(), pixelBuffer->height(), sourceFormat,
                                fit_.width, fit_.height);
        scalerWidth_ = pixelBuffer->width();
        scalerHeight_ = pixelBuffer->height();
        scalerFormat_ = sourceFormat;
    }
    if (!scaler_) {
        printFrameFailure("cannot convert the picture; frame dropped");
        return;
    }
    int status = av_frame_make_writable(picture_.get());
    if (status < 0) {
        printFrameFailure(libav::avErrorText(status));
        return;
    }
    source_->format = sourceFormat;
    source_->width = pixelBuffer->width();
    source_->height = pixelBuffer->height();
    source_->data[0] = pixelBuffer->data();
    source_->linesize[0] = static_cast<int>(pixelBuffer->bytesPerRow());
    if (fit_.width == width_ && fit_.height == height_) {
        status = sws_scale_frame(scaler_.get(), picture_.get(), source_.get());
    } else {
        status = scaleIntoFit();
    }
    source_->data[0] = nullptr;
    if (status < 0) {
        printFrameFailure(libav::avErrorText(status) + "; frame dropped");
        return;
    }
    picture_->pts = frameNumber_;
    status = avcodec_send_frame(context_.get(), picture_.get());
    if (status < 0) {
        printFrameFailure(libav::avErrorText(status) + "; frame dropped");
        return;
    }
    inFlight_.emplace_back(frameNumber_, pts);
    ++frameNumber_;
    drainPackets();
}

std::shared_ptr<media::PixelBufferPool> H264EncoderCpp::pixelBufferPool() const {
    MutexLock lock(mutex_);
    return pool_;
}

void H264EncoderCpp::signalCompressedData(std::shared_ptr<const media::SampleBuffer> sampleBuffer) {
    if (sampleBuffer) {
        // Queued under the session's lock, so it keeps its place among the frames encoded.
        MutexLock lock(mutex_);
        delivery_.queue(std::move(sampleBuffer));
    }
    delivery_.deliver();
}

H264EncoderCpp::Fit H264EncoderCpp::fitInside(int width, int height) const {
    const int64_t wide = int64_t{width} * height_;
    const int64_t tall = int64_t{height} * width_;
    Fit fit{0, 0, width_, height_};
    if (wide > tall) {
        fit.height = evenSide(width_, height, width, height_);
    } else if (wide < tall) {
        fit.width = evenSide(height_, width, height, width_);
    }
    // Centred, on even rows and columns so that the chroma planes line up with the luma.
    fit.x = (width_ - fit.width) / 4 * 2;
    fit.y = (height_ - fit.height) / 4 * 2;
    return fit;
}

int H264EncoderCpp::scaleIntoFit() {
    // Black borders, then the picture into its rectangle: a view of the session's picture that
    // shares its buffers, given up again before the picture goes to libx264.
    std::ptrdiff_t linesizes[4] = {};
    for (int plane = 0; plane < 4; ++plane) {
        linesizes[plane] = picture_->linesize[plane];
    }
    int status = av_image_fill_black(picture_->data, linesizes, AV_PIX_FMT_YUV420P,
                                     AVCOL_RANGE_MPEG, width_, height_);
    if (status < 0) {
        return status;
    }
    status = av_frame_ref(fitted_.get(), picture_.get());
    if (status < 0) {
        return status;
    }
    fitted_->width = fit_.width;
    fitted_->height = fit_.height;
    fitted_->data[0] += static_cast<std::ptrdiff_t>(fit_.y) * fitted_->linesize[0] + fit_.x;
    for (int plane = 1; plane < 3; ++plane) {
        fitted_->data[plane] +=
                static_cast<std::ptrdiff_t>(fit_.y / 2) * fitted_->linesize[plane] + fit_.x / 2;
    }
    status = sws_scale_frame(scaler_.get(), fitted_.get(), source_.get());
    av_frame_unref(fitted_.get());
    return status;
}

void H264EncoderCpp::drainPackets() {
    for (;;) {
        const int status = avcodec_receive_packet(context_.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return;
        }
        if (status < 0) {
            printFrameFailure(libav::avErrorText(status));
            return;
        }
        // Pictures libx264 dropped would leave their times behind; they never come back.
        while (!inFlight_.empty() && inFlight_.front().first < packet_->pts) {
            inFlight_.pop_front();
        }
        if (inFlight_.empty() || inFlight_.front().first != packet_->pts || packet_->size <= 0) {
            printFrameFailure("encoded frame without a matching picture; dropped");
            av_packet_unref(packet_.get());
            continue;
        }
        const media::Time pts = inFlight_.front().second;
        inFlight_.pop_front();
        auto data = std::make_shared<std::vector<uint8_t>>();
        data->reserve(static_cast<size_t>(packet_->size) + 16);
        for (const auto& [unit, size] :
             splitAnnexB(packet_->data, static_cast<size_t>(packet_->size))) {
            appendLengthPrefixed(*data, unit, size);
        }
        const bool keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet_.get());
        auto sample = media::SampleBuffer::createWithData(
                format_, std::move(data), 1,
                {media::SampleTimingInfo{media::Time::make(1, fps_), pts, media::Time::invalid()}});
        if (!sample) {
            continue;
        }
        sample->setKeyFrame(keyFrame);
        delivery_.queue(std::move(sample));
    }
}

}  // namespace pelmar::live::internal
