#pragma once

// Frames: RAII holders of libav objects and the one conversion this folder needs: a decoded frame
// to packed RGBA at a given size.
// Ownership: each holder owns its libav object.
// Threads: thread-compatible.
// Errors: toRGBA() gives std::nullopt when the conversion cannot be set up.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <optional>
#include <string>

namespace pelmar::picture::internal {

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;

// `frame` scaled to width x height as packed RGBA.
std::optional<std::string> toRGBA(const AVFrame& frame, int width, int height);

}  // namespace pelmar::picture::internal
