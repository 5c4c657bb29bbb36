#pragma once

// LibavFrames: RAII holders of libav objects and the conversion of a decoded frame to an RGBA
// Bitmap, for the SDK's libraries that decode pictures with FFmpeg (codecs here, the movie
// frame grabber in av). Including it needs FFmpeg's headers.
// Ownership: each holder owns its libav object; bitmaps own their pixels.
// Threads: thread-compatible.
// Errors: toBitmap() gives null when the size is outside Bitmap's caps or the conversion cannot
//     be set up.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>

#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::image {

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

// `frame` scaled to width x height as packed RGBA with straight (not premultiplied) alpha.
std::shared_ptr<Bitmap> toBitmap(const AVFrame& frame, int width, int height);

}  // namespace pelmar::image
