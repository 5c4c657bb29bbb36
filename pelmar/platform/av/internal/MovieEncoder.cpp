#include "pelmar/platform/av/internal/MovieEncoder.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "pelmar/platform/av/AssetWriterError.h"

namespace pelmar::av::internal {

namespace {

Error libavError(long code, std::string_view what, int averr) {
    return Error{std::string(kAssetWriterErrorDomain), code,
                 std::string(what) + ": " + libav::avErrorText(averr)};
}

Error plainError(long code, std::string what) {
    return Error{std::string(kAssetWriterErrorDomain), code, std::move(what)};
}

}  // namespace

std::optional<Error> MovieEncoder::open(const std::string& path,
                                        const std::optional<VideoConfig>& video,
                                        const std::optional<AudioConfig>& audio,
                                        const char* container) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        return plainError(kAssetWriterErrorFileExists, "the file already exists: " + path);
    }
    AVFormatContext* muxer = nullptr;
    int err = avformat_alloc_output_context2(&muxer, nullptr, container, path.c_str());
    format_.reset(muxer);
    if (err < 0 || !format_) {
        return libavError(kAssetWriterErrorCannotOpen,
                          std::string("cannot make a muxer for ") + container, err);
    }
    packet_.reset(av_packet_alloc());
    if (!packet_) {
        return plainError(kAssetWriterErrorCannotOpen, "out of memory");
    }
    if (video) {
        if (auto e = openVideo(*video)) {
            return e;
        }
    }
    if (audio) {
        if (auto e = openAudio(*audio)) {
            return e;
        }
    }
    err = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (err < 0) {
        return libavError(kAssetWriterErrorCannotOpen, "cannot create " + path, err);
    }
    err = avformat_write_header(format_.get(), nullptr);
    if (err < 0) {
        return libavError(kAssetWriterErrorCannotOpen, "cannot write the movie header", err);
    }
    headerWritten_ = true;
    return std::nullopt;
}

std::optional<Error> MovieEncoder::openVideo(const VideoConfig& config) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        return plainError(kAssetWriterErrorEncoder, "no H.264 encoder available");
    }
    video_.reset(avcodec_alloc_context3(codec));
    if (!video_) {
        return plainError(kAssetWriterErrorEncoder, "out of memory");
    }
    // H.264 in 4:2:0 needs even sizes.
    video_->width = std::max(2, config.width & ~1);
    video_->height = std::max(2, config.height & ~1);
    video_->pix_fmt = AV_PIX_FMT_YUV420P;
    video_->time_base = AVRational{1, kVideoTimescale};
    video_->framerate = AVRational{static_cast<int>(config.expectedFrameRate + 0.5), 1};
    video_->max_b_frames = 0;
    video_->thread_count = 0;  // as many encoder threads as the machine suits
    video_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(video_->priv_data, "preset", "veryfast", 0);
    int err = avcodec_open2(video_.get(), codec, nullptr);
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "cannot open the H.264 encoder", err);
    }
    videoStream_ = avformat_new_stream(format_.get(), nullptr);
    if (!videoStream_) {
        return plainError(kAssetWriterErrorEncoder, "cannot add the video track");
    }
    videoStream_->time_base = video_->time_base;
    err = avcodec_parameters_from_context(videoStream_->codecpar, video_.get());
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "cannot describe the video track", err);
    }
    return std::nullopt;
}

std::optional<Error> MovieEncoder::openAudio(const AudioConfig& config) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        return plainError(kAssetWriterErrorEncoder, "no AAC encoder available");
    }
    audio_.reset(avcodec_alloc_context3(codec));
    if (!audio_) {
        return plainError(kAssetWriterErrorEncoder, "out of memory");
    }
    audio_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio_->sample_rate = config.sampleRate;
    av_channel_layout_default(&audio_->ch_layout, config.channels);
    audio_->bit_rate = config.bitRate;
    audio_->time_base = AVRational{1, config.sampleRate};
    audio_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(audio_.get(), codec, nullptr);
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "cannot open the AAC encoder", err);
    }
    audioStream_ = avformat_new_stream(format_.get(), nullptr);
    if (!audioStream_) {
        return plainError(kAssetWriterErrorEncoder, "cannot add the audio track");
    }
    audioStream_->time_base = audio_->time_base;
    err = avcodec_parameters_from_context(audioStream_->codecpar, audio_.get());
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "cannot describe the audio track", err);
    }
    fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, config.channels, audio_->frame_size * 4));
    audioFrame_.reset(av_frame_alloc());
    if (!fifo_ || !audioFrame_) {
        return plainError(kAssetWriterErrorEncoder, "out of memory");
    }
    return std::nullopt;
}

std::optional<Error> MovieEncoder::encodeVideo(const media::PixelBuffer& picture,
                                               int64_t pts,
                                               int64_t duration) {
    if (!video_) {
        return plainError(kAssetWriterErrorEncoder, "the movie has no video track");
    }
    const libav::FramePtr frame(av_frame_alloc());
    if (!frame) {
        return plainError(kAssetWriterErrorEncoder, "out of memory");
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = video_->width;
    frame->height = video_->height;
    int err = av_frame_get_buffer(frame.get(), 0);
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "cannot allocate a picture", err);
    }
    // Aspect fit: the picture keeps its shape, centred, with black bars where it does not fill.
    const double scale = std::min(static_cast<double>(video_->width) / picture.width(),
                                  static_cast<double>(video_->height) / picture.height());
    const int fitW =
            std::clamp(static_cast<int>(picture.width() * scale + 0.5) & ~1, 2, video_->width);
    const int fitH =
            std::clamp(static_cast<int>(picture.height() * scale + 0.5) & ~1, 2, video_->height);
    const int left = ((video_->width - fitW) / 2) & ~1;
    const int top = ((video_->height - fitH) / 2) & ~1;
    if (fitW != video_->width || fitH != video_->height) {
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? frame->height : frame->height / 2;
            std::fill_n(frame->data[plane], static_cast<size_t>(frame->linesize[plane]) * rows,
                        plane == 0 ? 16 : 128);
        }
    }
    const AVPixelFormat source =
            picture.format() == media::PixelFormat::ARGB32 ? AV_PIX_FMT_ARGB : AV_PIX_FMT_BGRA;
    // sws_getCachedContext frees the old scaler itself when it has to make a new one.
    scaler_.reset(sws_getCachedContext(scaler_.release(), picture.width(), picture.height(), source,
                                       fitW, fitH, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                       nullptr, nullptr));
    if (!scaler_) {
        return plainError(kAssetWriterErrorEncoder, "cannot convert the picture");
    }
    const uint8_t* src[1] = {picture.data()};
    const int srcStride[1] = {static_cast<int>(picture.bytesPerRow())};
    uint8_t* dst[3] = {
            frame->data[0] + static_cast<ptrdiff_t>(top) * frame->linesize[0] + left,
            frame->data[1] + static_cast<ptrdiff_t>(top / 2) * frame->linesize[1] + left / 2,
            frame->data[2] + static_cast<ptrdiff_t>(top / 2) * frame->linesize[2] + left / 2};
    sws_scale(scaler_.get(), src, srcStride, 0, picture.height(), dst, frame->linesize);
    frame->pts = pts;
    videoDurations_[pts] = duration;
    err = avcodec_send_frame(video_.get(), frame.get());
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "the H.264 encoder refused a picture", err);
    }
    return drain(video_.get(), videoStream_, true);
}

std::optional<Error> MovieEncoder::encodeVideoFrame(const AVFrame& picture,
                                                    int64_t pts,
                                                    int64_t duration) {
    if (!video_) {
        return plainError(kAssetWriterErrorEncoder, "the movie has no video track");
    }
    if (picture.format != AV_PIX_FMT_YUV420P || picture.width != video_->width
        || picture.height != video_->height) {
        return plainError(kAssetWriterErrorEncoder, "the picture is not in the encoder's form");
    }
    // A new reference to the same pixels: the encoder may keep it while it looks ahead.
    const libav::FramePtr frame(av_frame_clone(&picture));
    if (!frame) {
        return plainError(kAssetWriterErrorEncoder, "out of memory");
    }
    frame->pts = pts;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    videoDurations_[pts] = duration;
    const int err = avcodec_send_frame(video_.get(), frame.get());
    if (err < 0) {
        return libavError(kAssetWriterErrorEncoder, "the H.264 encoder refused a picture", err);
    }
    return drain(video_.get(), videoStream_, true);
}

int MovieEncoder::videoWidth() const {
    return video_ ? video_->width : 0;
}

int MovieEncoder::videoHeight() const {
    return video_ ? video_->height : 0;
}

std::optional<Error> MovieEncoder::encodeAudio(const int16_t* samples,
                                               int frames,
                                               int channels,
                                               int rate,
                                               std::optional<int64_t> startPts) {
    if (!audio_) {
        return plainError(kAssetWriterErrorEncoder, "the movie has no audio track");
    }
    if (!audioStarted_) {
        nextAudioPts_ = startPts.value_or(0);
        audioStarted_ = true;
    }
    if (!resampler_ || resamplerRate_ != rate || resamplerChannels_ != channels) {
        resampler_.reset();
        AVChannelLayout in{};
        av_channel_layout_default(&in, channels);
        SwrContext* made = nullptr;
        int err =
                swr_alloc_set_opts2(&made, &audio_->ch_layout, AV_SAMPLE_FMT_FLTP,
                                    audio_->sample_rate, &in, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
        libav::ResamplerPtr resampler(made);
        if (err < 0 || (err = swr_init(resampler.get())) < 0) {
            return libavError(kAssetWriterErrorEncoder, "cannot convert the sound", err);
        }
        resampler_ = std::move(resampler);
        resamplerRate_ = rate;
        resamplerChannels_ = channels;
    }
    const int outCapacity = swr_get_out_samples(resampler_.get(), frames) + 32;
    const int outChannels = audio_->ch_layout.nb_channels;
    std::vector<std::vector<float>> planes(static_cast<size_t>(outChannels),
                                           std::vector<float>(static_cast<size_t>(outCapacity)));
    std::vector<uint8_t*> out(static_cast<size_t>(outChannels));
    for (int c = 0; c < outChannels; ++c) {
        out[static_cast<size_t>(c)] =
                reinterpret_cast<uint8_t*>(planes[static_cast<size_t>(c)].data());
    }
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int converted = swr_convert(resampler_.get(), out.data(), outCapacity, in, frames);
    if (converted < 0) {
        return libavError(kAssetWriterErrorEncoder, "cannot convert the sound", converted);
    }
    if (converted > 0) {
        av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out.data()), converted);
    }
    return encodeAudioFrames(false);
}

std::optional<Error> MovieEncoder::encodeAudioFrames(bool flush) {
    const int frameSize = audio_->frame_size > 0 ? audio_->frame_size : 1024;
    while (av_audio_fifo_size(fifo_.get()) >= frameSize
           || (flush && av_audio_fifo_size(fifo_.get()) > 0)) {
        const int n = std::min(frameSize, av_audio_fifo_size(fifo_.get()));
        av_frame_unref(audioFrame_.get());
        audioFrame_->nb_samples = n;
        audioFrame_->format = audio_->sample_fmt;
        audioFrame_->sample_rate = audio_->sample_rate;
        av_channel_layout_copy(&audioFrame_->ch_layout, &audio_->ch_layout);
        int err = av_frame_get_buffer(audioFrame_.get(), 0);
        if (err < 0) {
            return libavError(kAssetWriterErrorEncoder, "cannot allocate sound", err);
        }
        av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(audioFrame_->data), n);
        audioFrame_->pts = nextAudioPts_;
        nextAudioPts_ += n;
        err = avcodec_send_frame(audio_.get(), audioFrame_.get());
        if (err < 0) {
            return libavError(kAssetWriterErrorEncoder, "the AAC encoder refused sound", err);
        }
        if (auto e = drain(audio_.get(), audioStream_, false)) {
            return e;
        }
    }
    return std::nullopt;
}

std::optional<Error> MovieEncoder::drain(AVCodecContext* codec, AVStream* stream, bool video) {
    for (;;) {
        int err = avcodec_receive_packet(codec, packet_.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
            return std::nullopt;
        }
        if (err < 0) {
            return libavError(kAssetWriterErrorEncoder, "the encoder failed", err);
        }
        if (video) {
            auto it = videoDurations_.find(packet_->pts);
            if (it != videoDurations_.end()) {
                packet_->duration = it->second;
                videoDurations_.erase(videoDurations_.begin(), std::next(it));
            }
        }
        packet_->stream_index = stream->index;
        av_packet_rescale_ts(packet_.get(), codec->time_base, stream->time_base);
        err = av_interleaved_write_frame(format_.get(), packet_.get());
        if (err < 0) {
            return libavError(kAssetWriterErrorMuxer, "cannot write to the movie file", err);
        }
    }
}

void MovieEncoder::close() {
    videoStream_ = nullptr;
    audioStream_ = nullptr;
    headerWritten_ = false;
    audioFrame_.reset();
    packet_.reset();
    fifo_.reset();
    resampler_.reset();
    scaler_.reset();
    audio_.reset();
    video_.reset();
    format_.reset();
}

std::optional<Error> MovieEncoder::finish() {
    if (!headerWritten_) {
        return plainError(kAssetWriterErrorMuxer, "the movie was never started");
    }
    if (video_) {
        avcodec_send_frame(video_.get(), nullptr);
        if (auto e = drain(video_.get(), videoStream_, true)) {
            return e;
        }
    }
    if (audio_) {
        if (auto e = encodeAudioFrames(true)) {
            return e;
        }
        avcodec_send_frame(audio_.get(), nullptr);
        if (auto e = drain(audio_.get(), audioStream_, false)) {
            return e;
        }
    }
    int err = av_write_trailer(format_.get());
    if (err < 0) {
        return libavError(kAssetWriterErrorMuxer, "cannot finish the movie file", err);
    }
    close();
    return std::nullopt;
}

}  // namespace pelmar::av::internal
