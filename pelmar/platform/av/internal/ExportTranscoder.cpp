#include "pelmar/platform/av/internal/ExportTranscoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/AssetWriterError.h"
#include "pelmar/platform/av/internal/LibavInput.h"
#include "pelmar/platform/av/internal/MovieEncoder.h"
#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::av::internal {

namespace {

Error exportError(long code, std::string message) {
    return Error{std::string(kAssetExportErrorDomain), code, std::move(message)};
}

Error cancelledError() {
    return exportError(kAssetExportErrorCancelled, "the export was cancelled");
}

// An encoder failure re-told in the export's domain.
Error encodeError(const Error& cause) {
    return exportError(cause.code == kAssetWriterErrorFileExists ? kAssetExportErrorFileExists
                                                                 : kAssetExportErrorEncode,
                       cause.message);
}

double seconds(int64_t ts, AVRational base) {
    return static_cast<double>(ts) * av_q2d(base);
}

int bestStream(AVFormatContext& input, AVMediaType type) {
    const int index = av_find_best_stream(&input, type, -1, -1, nullptr, 0);
    if (index < 0) {
        return -1;
    }
    if (type == AVMEDIA_TYPE_VIDEO
        && (input.streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
        return -1;
    }
    return index;
}

libav::CodecContextPtr openDecoder(const AVStream& stream) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr) {
        return nullptr;
    }
    libav::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0) {
        return nullptr;
    }
    decoder->pkt_timebase = stream.time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return decoder;
}

// The pictures of the range, each encoded once the next one tells how long it shows.
class PictureSink {
public:
    // `width` x `height`: the pictures as stored, scaled; `turns`: clockwise quarter turns that
    // make them upright in the movie.
    PictureSink(MovieEncoder& encoder, int width, int height, int turns, double start, double end)
        : encoder_(encoder),
          width_(width),
          height_(height),
          turns_(turns),
          start_(start),
          end_(end) {}

    // A decoded picture at `t` seconds of the source.
    std::optional<Error> add(const AVFrame& frame, double t) {
        if (t >= end_) {
            return std::nullopt;
        }
        if (t < start_) {
            // Before the range: remember it, as it may still be showing at the start.
            held_.reset(av_frame_clone(&frame));
            return std::nullopt;
        }
        if (!pending_ && !pendingFrame_ && held_ && t > start_) {
            if (auto e = push(*held_, start_)) {
                return e;
            }
        }
        held_.reset();
        return push(frame, t);
    }

    // Ends the last picture at the range end, or one frame later when the source ends first.
    std::optional<Error> finish(double frameDuration) {
        if (!pending_ && !pendingFrame_ && held_) {
            // The whole range falls within one picture.
            if (auto e = push(*held_, start_)) {
                return e;
            }
        }
        if (!pending_ && !pendingFrame_) {
            return std::nullopt;
        }
        const double last = std::min(end_, pendingT_ + frameDuration);
        return encodePending(std::max(1.0 / MovieEncoder::kVideoTimescale, last - pendingT_));
    }

    bool started() const { return started_; }

private:
    std::optional<Error> push(const AVFrame& frame, double t) {
        if (pending_ || pendingFrame_) {
            if (auto e = encodePending(t - pendingT_)) {
                return e;
            }
        }
        if (turns_ == 0) {
            pendingFrame_ = convertFrame(frame);
        } else {
            pending_ = convert(frame);
        }
        if (!pending_ && !pendingFrame_) {
            return exportError(kAssetExportErrorEncode, "cannot convert a picture");
        }
        pendingT_ = t;
        started_ = true;
        return std::nullopt;
    }

    std::optional<Error> encodePending(double duration) {
        const auto pts = std::llround((pendingT_ - start_) * MovieEncoder::kVideoTimescale);
        const auto length =
                std::max<long long>(1, std::llround(duration * MovieEncoder::kVideoTimescale));
        auto error = pendingFrame_ ? encoder_.encodeVideoFrame(*pendingFrame_, pts, length)
                                   : encoder_.encodeVideo(*pending_, pts, length);
        pending_.reset();
        pendingFrame_.reset();
        if (error) {
            return encodeError(*error);
        }
        return std::nullopt;
    }

    // An upright picture goes to the encoder in its own form: the decoder's frame itself when it
    // already is planar 4:2:0 at the encoder's size, else one conversion straight into that form.
    libav::FramePtr convertFrame(const AVFrame& frame) {
        const int w = encoder_.videoWidth();
        const int h = encoder_.videoHeight();
        if (frame.format == AV_PIX_FMT_YUV420P && frame.width == w && frame.height == h) {
            return libav::FramePtr(av_frame_clone(&frame));
        }
        libav::FramePtr out(av_frame_alloc());
        if (!out) {
            return nullptr;
        }
        out->format = AV_PIX_FMT_YUV420P;
        out->width = w;
        out->height = h;
        if (av_frame_get_buffer(out.get(), 0) < 0) {
            return nullptr;
        }
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                           static_cast<AVPixelFormat>(frame.format), w, h,
                                           AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                                           nullptr));
        if (!scaler_) {
            return nullptr;
        }
        sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, out->data,
                  out->linesize);
        return out;
    }

    std::shared_ptr<media::PixelBuffer> convert(const AVFrame& frame) {
        auto picture = media::PixelBuffer::create(width_, height_, media::PixelFormat::BGRA32);
        if (!picture) {
            return nullptr;
        }
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                           static_cast<AVPixelFormat>(frame.format), width_,
                                           height_, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                           nullptr));
        if (!scaler_) {
            return nullptr;
        }
        uint8_t* dst[1] = {picture->data()};
        const int dstStride[1] = {static_cast<int>(picture->bytesPerRow())};
        sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, dst, dstStride);
        return turns_ == 0 ? picture : turned(*picture);
    }

    // `stored` turned clockwise by turns_ quarter turns.
    std::shared_ptr<media::PixelBuffer> turned(const media::PixelBuffer& stored) const {
        const int w = stored.width();
        const int h = stored.height();
        auto out = media::PixelBuffer::create(turns_ % 2 == 0 ? w : h, turns_ % 2 == 0 ? h : w,
                                              media::PixelFormat::BGRA32);
        if (!out) {
            return nullptr;
        }
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = stored.data() + static_cast<size_t>(y) * stored.bytesPerRow();
            for (int x = 0; x < w; ++x) {
                const int nx = turns_ == 1 ? h - 1 - y : turns_ == 2 ? w - 1 - x : y;
                const int ny = turns_ == 1 ? x : turns_ == 2 ? h - 1 - y : w - 1 - x;
                std::memcpy(out->data() + static_cast<size_t>(ny) * out->bytesPerRow()
                                    + static_cast<size_t>(nx) * 4,
                            row + static_cast<size_t>(x) * 4, 4);
            }
        }
        return out;
    }

    MovieEncoder& encoder_;
    const int width_;
    const int height_;
    const int turns_;
    const double start_;
    const double end_;
    libav::ScalerPtr scaler_;
    libav::FramePtr held_;
    std::shared_ptr<media::PixelBuffer> pending_;
    libav::FramePtr pendingFrame_;
    double pendingT_ = 0;
    bool started_ = false;
};

// The sound of the range, cut to the sample, as 16-bit interleaved PCM for the encoder.
class SoundSink {
public:
    SoundSink(MovieEncoder& encoder, double start, double end)
        : encoder_(encoder), start_(start), end_(end) {}

    std::optional<Error> add(const AVFrame& frame, double t) {
        const int rate = frame.sample_rate;
        const int channels = frame.ch_layout.nb_channels;
        if (rate <= 0 || channels <= 0 || frame.nb_samples <= 0) {
            return std::nullopt;
        }
        const auto skip =
                std::clamp<int64_t>(std::llround((start_ - t) * rate), 0, frame.nb_samples);
        const auto keep = std::clamp<int64_t>(std::llround((end_ - t) * rate), 0, frame.nb_samples);
        if (keep <= skip) {
            return std::nullopt;
        }
        if (!resampler_ || rate != rate_ || channels != channels_ || frame.format != format_) {
            SwrContext* made = nullptr;
            AVChannelLayout layout{};
            av_channel_layout_copy(&layout, &frame.ch_layout);
            int err = swr_alloc_set_opts2(&made, &layout, AV_SAMPLE_FMT_S16, rate, &layout,
                                          static_cast<AVSampleFormat>(frame.format), rate, 0,
                                          nullptr);
            av_channel_layout_uninit(&layout);
            libav::ResamplerPtr resampler(made);
            if (err < 0 || swr_init(resampler.get()) < 0) {
                return exportError(kAssetExportErrorEncode, "cannot convert the sound");
            }
            resampler_ = std::move(resampler);
            rate_ = rate;
            channels_ = channels;
            format_ = frame.format;
        }
        samples_.resize(static_cast<size_t>(frame.nb_samples) * static_cast<size_t>(channels));
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(samples_.data())};
        const int converted =
                swr_convert(resampler_.get(), out, frame.nb_samples,
                            const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
        if (converted < 0) {
            return exportError(kAssetExportErrorEncode, "cannot convert the sound");
        }
        const int64_t last = std::min<int64_t>(keep, converted);
        if (last <= skip) {
            return std::nullopt;
        }
        std::optional<int64_t> startPts;
        if (!started_) {
            startPts = std::llround(std::max(0.0, t + static_cast<double>(skip) / rate - start_)
                                    * MovieEncoder::AudioConfig{}.sampleRate);
            started_ = true;
        }
        auto error = encoder_.encodeAudio(samples_.data() + skip * channels,
                                          static_cast<int>(last - skip), channels, rate, startPts);
        if (error) {
            return encodeError(*error);
        }
        return std::nullopt;
    }

private:
    MovieEncoder& encoder_;
    const double start_;
    const double end_;
    libav::ResamplerPtr resampler_;
    int rate_ = 0;
    int channels_ = 0;
    int format_ = -1;
    bool started_ = false;
    std::vector<int16_t> samples_;
};

}  // namespace

std::optional<Error> ExportTranscoder::run() const {
    std::optional<Error> openError;
    auto input = LibavInput::open(source, remote, &stop, openError);
    if (!input) {
        if (stop && stop()) {
            return cancelledError();
        }
        return exportError(kAssetExportErrorSource,
                           openError ? openError->message : "cannot open " + source);
    }
    return copyStreams ? copy(*input) : reencode(*input);
}

std::optional<Error> ExportTranscoder::reencode(AVFormatContext& input) const {
    const int videoIndex = bestStream(input, AVMEDIA_TYPE_VIDEO);
    const int audioIndex = bestStream(input, AVMEDIA_TYPE_AUDIO);
    if (videoIndex < 0 && audioIndex < 0) {
        return exportError(kAssetExportErrorSource, "no audio or video track in " + source);
    }
    libav::CodecContextPtr videoDecoder;
    libav::CodecContextPtr audioDecoder;
    std::optional<MovieEncoder::VideoConfig> videoConfig;
    std::optional<MovieEncoder::AudioConfig> audioConfig;
    double frameDuration = 1.0 / 30;
    int storedWidth = 0;
    int storedHeight = 0;
    int turns = 0;
    if (videoIndex >= 0) {
        const AVStream& stream = *input.streams[videoIndex];
        videoDecoder = openDecoder(stream);
        if (!videoDecoder || stream.codecpar->width <= 0 || stream.codecpar->height <= 0) {
            return exportError(kAssetExportErrorSource, "cannot decode the video of " + source);
        }
        double width = stream.codecpar->width;
        double height = stream.codecpar->height;
        const double longest = std::max(width, height);
        if (longestSide > 0 && longest > longestSide) {
            width = width * longestSide / longest;
            height = height * longestSide / longest;
        }
        storedWidth = std::max(2, static_cast<int>(std::lround(width)) & ~1);
        storedHeight = std::max(2, static_cast<int>(std::lround(height)) & ~1);
        // The movie holds upright pictures: a turned source is turned while converting.
        turns = LibavInput::quarterTurns(stream);
        videoConfig = MovieEncoder::VideoConfig{};
        videoConfig->width = turns % 2 == 0 ? storedWidth : storedHeight;
        videoConfig->height = turns % 2 == 0 ? storedHeight : storedWidth;
        const AVRational rate = av_guess_frame_rate(&input, input.streams[videoIndex], nullptr);
        if (rate.num > 0 && rate.den > 0) {
            videoConfig->expectedFrameRate = av_q2d(rate);
            frameDuration = 1.0 / videoConfig->expectedFrameRate;
        }
    }
    if (audioIndex >= 0) {
        audioDecoder = openDecoder(*input.streams[audioIndex]);
        if (!audioDecoder) {
            return exportError(kAssetExportErrorSource, "cannot decode the sound of " + source);
        }
        audioConfig = MovieEncoder::AudioConfig{};
    }

    MovieEncoder encoder;
    if (auto e = encoder.open(output, videoConfig, audioConfig)) {
        return encodeError(*e);
    }
    const double end = endSeconds;
    std::optional<PictureSink> pictures;
    if (videoConfig) {
        pictures.emplace(encoder, storedWidth, storedHeight, turns, startSeconds, end);
    }
    SoundSink sound(encoder, startSeconds, end);
    if (startSeconds > 0) {
        av_seek_frame(&input, -1, static_cast<int64_t>(startSeconds * AV_TIME_BASE),
                      AVSEEK_FLAG_BACKWARD);
    }
    const double span = std::isfinite(end) ? std::max(end - startSeconds, 1e-6) : 0;
    bool videoDone = videoIndex < 0;
    bool audioDone = audioIndex < 0;
    double reached = startSeconds;
    libav::PacketPtr packet(av_packet_alloc());
    libav::FramePtr frame(av_frame_alloc());
    if (!packet || !frame) {
        return exportError(kAssetExportErrorEncode, "out of memory");
    }
    // Feeds one packet (null: drain) to a decoder and hands every picture or sound it gives.
    auto decode = [&](AVCodecContext* decoder, const AVPacket* pkt,
                      bool video) -> std::optional<Error> {
        if (avcodec_send_packet(decoder, pkt) < 0 && pkt != nullptr) {
            return std::nullopt;  // a damaged packet is skipped, as players do
        }
        const AVRational base = input.streams[video ? videoIndex : audioIndex]->time_base;
        while (avcodec_receive_frame(decoder, frame.get()) == 0) {
            const int64_t ts = frame->best_effort_timestamp;
            const double t = ts == AV_NOPTS_VALUE ? reached : seconds(ts, base);
            std::optional<Error> e;
            if (video) {
                videoDone = videoDone || t >= end;
                e = pictures->add(*frame, t);
            } else {
                audioDone = audioDone || t >= end;
                e = sound.add(*frame, t);
            }
            av_frame_unref(frame.get());
            if (e) {
                return e;
            }
            reached = std::max(reached, t);
        }
        return std::nullopt;
    };
    while (!(videoDone && audioDone)) {
        if (stop && stop()) {
            return cancelledError();
        }
        const int err = av_read_frame(&input, packet.get());
        if (err == AVERROR_EOF) {
            break;
        }
        if (err < 0) {
            if (stop && stop()) {
                return cancelledError();
            }
            return exportError(kAssetExportErrorSource,
                               "cannot read " + source + ": " + libav::avErrorText(err));
        }
        std::optional<Error> e;
        if (packet->stream_index == videoIndex && !videoDone) {
            e = decode(videoDecoder.get(), packet.get(), true);
        } else if (packet->stream_index == audioIndex && !audioDone) {
            e = decode(audioDecoder.get(), packet.get(), false);
        }
        av_packet_unref(packet.get());
        if (e) {
            return e;
        }
        if (progress && span > 0) {
            progress(std::clamp((reached - startSeconds) / span, 0.0, 1.0));
        }
    }
    if (videoDecoder && !videoDone) {
        if (auto e = decode(videoDecoder.get(), nullptr, true)) {
            return e;
        }
    }
    if (audioDecoder && !audioDone) {
        if (auto e = decode(audioDecoder.get(), nullptr, false)) {
            return e;
        }
    }
    if (pictures) {
        if (auto e = pictures->finish(frameDuration)) {
            return e;
        }
        if (!pictures->started()) {
            return exportError(kAssetExportErrorSource, "no picture decoded from " + source);
        }
    }
    if (auto e = encoder.finish()) {
        return encodeError(*e);
    }
    return std::nullopt;
}

std::optional<Error> ExportTranscoder::copy(AVFormatContext& input) const {
    AVFormatContext* raw = nullptr;
    int err = avformat_alloc_output_context2(&raw, nullptr, "mp4", output.c_str());
    libav::OutputFormatPtr muxer(raw);
    if (err < 0 || !muxer) {
        return exportError(kAssetExportErrorEncode, "cannot make an MPEG-4 muxer");
    }
    std::vector<int> map(input.nb_streams, -1);
    int next = 0;
    for (const int type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
        const int index = bestStream(input, static_cast<AVMediaType>(type));
        if (index < 0) {
            continue;
        }
        AVStream* out = avformat_new_stream(muxer.get(), nullptr);
        if (out == nullptr
            || avcodec_parameters_copy(out->codecpar, input.streams[index]->codecpar) < 0) {
            return exportError(kAssetExportErrorEncode, "cannot add a track");
        }
        out->codecpar->codec_tag = 0;
        out->time_base = input.streams[index]->time_base;
        // Copied pictures keep their turn: the display matrix goes with them.
        size_t matrixSize = 0;
        const uint8_t* matrix = av_stream_get_side_data(input.streams[index],
                                                        AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
        if (matrix != nullptr) {
            uint8_t* copied = av_stream_new_side_data(out, AV_PKT_DATA_DISPLAYMATRIX, matrixSize);
            if (copied != nullptr) {
                std::memcpy(copied, matrix, matrixSize);
            }
        }
        map[static_cast<size_t>(index)] = next++;
    }
    if (next == 0) {
        return exportError(kAssetExportErrorSource, "no audio or video track in " + source);
    }
    err = avio_open(&muxer->pb, output.c_str(), AVIO_FLAG_WRITE);
    if (err < 0) {
        return exportError(kAssetExportErrorEncode,
                           "cannot create " + output + ": " + libav::avErrorText(err));
    }
    AVDictionary* options = nullptr;
    if (fastStart) {
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    err = avformat_write_header(muxer.get(), &options);
    av_dict_free(&options);
    if (err < 0) {
        return exportError(kAssetExportErrorEncode,
                           "cannot copy these tracks into MPEG-4: " + libav::avErrorText(err));
    }
    libav::PacketPtr packet(av_packet_alloc());
    const double span = std::isfinite(endSeconds) ? std::max(endSeconds - startSeconds, 1e-6) : 0;
    while (true) {
        if (stop && stop()) {
            return cancelledError();
        }
        err = av_read_frame(&input, packet.get());
        if (err == AVERROR_EOF) {
            break;
        }
        if (err < 0) {
            return exportError(kAssetExportErrorSource,
                               "cannot read " + source + ": " + libav::avErrorText(err));
        }
        const int target = map[static_cast<size_t>(packet->stream_index)];
        const AVRational base = input.streams[packet->stream_index]->time_base;
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const double t = ts == AV_NOPTS_VALUE ? 0 : seconds(ts, base);
        if (target < 0 || t >= endSeconds) {
            av_packet_unref(packet.get());
            continue;
        }
        packet->stream_index = target;
        av_packet_rescale_ts(packet.get(), base, muxer->streams[target]->time_base);
        packet->pos = -1;
        err = av_interleaved_write_frame(muxer.get(), packet.get());
        if (err < 0) {
            return exportError(kAssetExportErrorEncode,
                               "cannot write " + output + ": " + libav::avErrorText(err));
        }
        if (progress && span > 0) {
            progress(std::clamp((t - startSeconds) / span, 0.0, 1.0));
        }
    }
    err = av_write_trailer(muxer.get());
    if (err < 0) {
        return exportError(kAssetExportErrorEncode, "cannot finish " + output);
    }
    return std::nullopt;
}

}  // namespace pelmar::av::internal
