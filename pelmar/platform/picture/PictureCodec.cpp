#include "pelmar/platform/picture/PictureCodec.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "pelmar/platform/picture/ImageGenerator.h"
#include "pelmar/platform/picture/internal/Frames.h"
#include "pelmar/platform/picture/internal/RGBAPixels.h"

namespace pelmar::picture {

namespace {

bool isJPEG(std::string_view bytes) {
    return bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF
           && static_cast<unsigned char>(bytes[1]) == 0xD8;
}

bool isPNG(std::string_view bytes) {
    return bytes.size() > 8 && bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8);
}

Error encodeError(std::string message) {
    return Error{std::string(kImageErrorDomain), kImageErrorEncode, std::move(message)};
}

}  // namespace

std::shared_ptr<const ui::Image> PictureCodec::makeRGBA(int width, int height, std::string rgba) {
    if (width <= 0 || height <= 0
        || rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        return nullptr;
    }
    std::shared_ptr<const internal::RGBAPixels> owner(new internal::RGBAPixels{std::move(rgba)},
                                                      internal::RGBAPixelsDeleter{});
    return ui::Image::fromPixels(width, height, std::move(owner));
}

std::shared_ptr<const ui::Image> PictureCodec::decode(std::string_view bytes) {
    const AVCodecID id = isJPEG(bytes)  ? AV_CODEC_ID_MJPEG
                         : isPNG(bytes) ? AV_CODEC_ID_PNG
                                        : AV_CODEC_ID_NONE;
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (codec == nullptr || bytes.size() > static_cast<size_t>(INT32_MAX / 2)) {
        return nullptr;
    }
    internal::CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    internal::PacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
        return nullptr;
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    internal::FramePtr frame(av_frame_alloc());
    if (avcodec_send_packet(decoder.get(), packet.get()) < 0) {
        return nullptr;
    }
    avcodec_send_packet(decoder.get(), nullptr);
    if (avcodec_receive_frame(decoder.get(), frame.get()) < 0 || frame->width <= 0
        || frame->height <= 0
        || static_cast<int64_t>(frame->width) * frame->height > ImageGenerator::kMaxPixels) {
        return nullptr;
    }
    auto rgba = internal::toRGBA(*frame, frame->width, frame->height);
    if (!rgba) {
        return nullptr;
    }
    return makeRGBA(frame->width, frame->height, std::move(*rgba));
}

std::pair<std::optional<std::string>, std::optional<Error>> PictureCodec::encodeJPEG(
        const ui::Image& image, double quality) {
    std::shared_ptr<const ui::Image> decoded;
    const ui::Image* source = &image;
    if (!image.path().empty()) {
        std::ifstream in(image.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (isJPEG(bytes)) {
            return {std::move(bytes), std::nullopt};
        }
        decoded = decode(bytes);
        if (!decoded) {
            return {std::nullopt, encodeError("cannot read the picture " + image.path().string())};
        }
        source = decoded.get();
    }
    const internal::RGBAPixels* pixels = internal::rgbaPixelsOf(source->pixels());
    const int width = source->width();
    const int height = source->height();
    if (pixels == nullptr || width <= 0 || height <= 0
        || pixels->bytes.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        return {std::nullopt, encodeError("the picture's pixels cannot be read")};
    }

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    internal::CodecPtr encoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!encoder) {
        return {std::nullopt, encodeError("no JPEG encoder")};
    }
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    encoder->time_base = AVRational{1, 25};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    // Quality 1 is the finest quantiser (2), quality 0 the coarsest (31).
    const double q = 2.0 + (1.0 - std::clamp(quality, 0.0, 1.0)) * 29.0;
    encoder->global_quality = static_cast<int>(std::lround(q * FF_QP2LAMBDA));
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
        return {std::nullopt, encodeError("cannot open the JPEG encoder")};
    }
    internal::FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUVJ420P;
    frame->quality = encoder->global_quality;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return {std::nullopt, encodeError("out of memory")};
    }
    SwsContext* scaler =
            sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUVJ420P,
                           SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr) {
        return {std::nullopt, encodeError("cannot convert the picture")};
    }
    const uint8_t* planes[4] = {reinterpret_cast<const uint8_t*>(pixels->bytes.data()), nullptr,
                                nullptr, nullptr};
    const int strides[4] = {width * 4, 0, 0, 0};
    sws_scale(scaler, planes, strides, 0, height, frame->data, frame->linesize);
    sws_freeContext(scaler);

    internal::PacketPtr packet(av_packet_alloc());
    if (avcodec_send_frame(encoder.get(), frame.get()) < 0
        || avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        return {std::nullopt, encodeError("JPEG encoding failed")};
    }
    return {std::string(reinterpret_cast<const char*>(packet->data),
                        static_cast<size_t>(packet->size)),
            std::nullopt};
}

}  // namespace pelmar::picture
