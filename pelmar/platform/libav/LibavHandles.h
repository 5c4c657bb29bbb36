#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

#include "pelmar/platform/libav/LibavLog.h"

// LibavHandles: owning pointers for the FFmpeg objects the SDK's codecs, muxers and converters
// hold (demuxer, muxer, codec, frame, packet, scaler, resampler, audio FIFO), and the text of an
// FFmpeg error code. Including it routes FFmpeg's log to the SDK's sink (LibavLog.h).
// Ownership: each pointer frees its object with the library's own release function; a muxer's
//     pointer also closes the file it opened.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::libav {

namespace internal {
// Each file that uses these handles routes FFmpeg's log before its first FFmpeg call (at its
// static initialisation), so FFmpeg never prints on its own.
inline const bool kLoggingRouted = routeLogging();
}  // namespace internal

// A demuxer opened with avformat_open_input().
struct InputFormatDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

// A muxer made with avformat_alloc_output_context2(); its output file, when opened with
// avio_open(), is closed first (without writing a trailer).
struct OutputFormatDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->oformat != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

struct ScalerDeleter {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

struct ResamplerDeleter {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};

struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// The library's message for an AVERROR code, for example "Invalid data found when processing
// input".
inline std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace pelmar::libav
