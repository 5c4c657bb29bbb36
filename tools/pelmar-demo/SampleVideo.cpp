#include "tools/pelmar-demo/SampleVideo.h"

extern "C" {
#include <libavutil/opt.h>
}

#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::demo {

namespace {

// Sends every packet the encoder has ready to the file.
bool drain(AVCodecContext* encoder, AVFormatContext* output, AVStream* stream, AVPacket* packet) {
    for (;;) {
        const int result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            return false;
        }
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(output, packet) < 0) {
            return false;
        }
    }
}

}  // namespace

std::optional<std::string> writeSampleVideo(
        const std::filesystem::path& file, int width, int height, int frames, int fps) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", file.c_str()) < 0) {
        return "cannot make an MPEG-4 writer";
    }
    const libav::OutputFormatPtr output(raw);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        return "libx264 is not available";
    }
    const libav::CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) {
        return "out of memory";
    }
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational{1, fps};
    encoder->framerate = AVRational{fps, 1};
    encoder->gop_size = fps;
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
        return "cannot open the H.264 encoder";
    }
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0) {
        return "cannot add the video track";
    }
    stream->time_base = encoder->time_base;
    if (avio_open(&output->pb, file.c_str(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(output.get(), nullptr) < 0) {
        return "cannot write " + file.string();
    }
    const libav::FramePtr frame(av_frame_alloc());
    if (!frame) {
        return "out of memory";
    }
    frame->format = encoder->pix_fmt;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return "out of memory";
    }
    const libav::PacketPtr packet(av_packet_alloc());
    if (!packet) {
        return "out of memory";
    }
    for (int index = 0; index < frames; ++index) {
        if (av_frame_make_writable(frame.get()) < 0) {
            return "out of memory";
        }
        // A diagonal gradient that drifts, over slowly turning colours.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                frame->data[0][y * frame->linesize[0] + x] =
                        static_cast<uint8_t>(x + y + index * 3);
            }
        }
        for (int y = 0; y < height / 2; ++y) {
            for (int x = 0; x < width / 2; ++x) {
                frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(128 + y + index);
                frame->data[2][y * frame->linesize[2] + x] =
                        static_cast<uint8_t>(64 + x + index * 2);
            }
        }
        frame->pts = index;
        if (avcodec_send_frame(encoder.get(), frame.get()) < 0
            || !drain(encoder.get(), output.get(), stream, packet.get())) {
            return "encoding failed";
        }
    }
    if (avcodec_send_frame(encoder.get(), nullptr) < 0
        || !drain(encoder.get(), output.get(), stream, packet.get())
        || av_write_trailer(output.get()) < 0) {
        return "cannot finish " + file.string();
    }
    return std::nullopt;
}

}  // namespace pelmar::demo
