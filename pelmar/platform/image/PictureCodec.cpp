#include "pelmar/platform/image/PictureCodec.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/image/GifAnimation.h"
#include "pelmar/platform/image/ImageDecoder.h"
#include "pelmar/platform/image/LibavFrames.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::image {

namespace {

bool isJPEG(std::string_view bytes) {
    return bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF
           && static_cast<unsigned char>(bytes[1]) == 0xD8;
}

bool isPNG(std::string_view bytes) {
    return bytes.size() > 8 && bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8);
}

bool isGIF(std::string_view bytes) {
    return bytes.size() > 6 && (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a");
}

AVPixelFormat libavFormat(PixelFormat format) {
    switch (format) {
        case PixelFormat::RGBA8:
            return AV_PIX_FMT_RGBA;
        case PixelFormat::BGRA8:
            return AV_PIX_FMT_BGRA;
        case PixelFormat::Gray8:
            return AV_PIX_FMT_GRAY8;
    }
    return AV_PIX_FMT_NONE;
}

Error encodeError(std::string message) {
    return Error{std::string(kImageErrorDomain), kImageErrorEncode, std::move(message)};
}

// `bitmap` decoded from `bytes`, turned upright by the EXIF orientation the bytes carry (a JPEG's
// APP1 segment or a PNG's eXIf chunk), so that no reader of the pixels has to.
std::shared_ptr<Bitmap> upright(std::shared_ptr<Bitmap> bitmap, std::string_view bytes) {
    const auto header = ImageDecoder::readHeader(bytes);
    const int stored = header ? header->exifOrientation : 0;
    if (stored < 2 || stored > 8) {
        return bitmap;
    }
    const auto orientation = static_cast<Orientation>(stored);
    const bool swap = BitmapRedraw::swapsSides(orientation);
    auto layout = bitmap->layout();
    layout.orientation = Orientation::Up;
    auto turned = Bitmap::create(swap ? bitmap->height() : bitmap->width(),
                                 swap ? bitmap->width() : bitmap->height(), layout);
    if (!turned) {
        return nullptr;
    }
    BitmapRedraw::orient(*bitmap, *turned, orientation);
    return turned;
}

}  // namespace

bool PictureCodec::hasPictureSignature(std::string_view bytes) {
    return isJPEG(bytes) || isPNG(bytes) || isGIF(bytes);
}

std::shared_ptr<Bitmap> PictureCodec::decode(std::string_view bytes) {
    const AVCodecID id = isJPEG(bytes)  ? AV_CODEC_ID_MJPEG
                         : isPNG(bytes) ? AV_CODEC_ID_PNG
                         : isGIF(bytes) ? AV_CODEC_ID_GIF
                                        : AV_CODEC_ID_NONE;
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (codec == nullptr || bytes.size() > static_cast<size_t>(INT32_MAX / 2)) {
        return nullptr;
    }
    // libavcodec sizes a GIF's picture by its logical screen before it looks for a frame: a few
    // bytes claiming a large screen would take hundreds of megabytes. Only a GIF whose first
    // frame is all there reaches it.
    if (id == AV_CODEC_ID_GIF && !GifAnimation::hasCompleteFrame(bytes)) {
        return nullptr;
    }
    libav::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        return nullptr;
    }
    // A header that claims a huge picture is refused before the decoder allocates for it.
    decoder->max_pixels = Bitmap::kMaxPixels;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    libav::PacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
        return nullptr;
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    libav::FramePtr frame(av_frame_alloc());
    if (!frame || avcodec_send_packet(decoder.get(), packet.get()) < 0) {
        return nullptr;
    }
    avcodec_send_packet(decoder.get(), nullptr);
    if (avcodec_receive_frame(decoder.get(), frame.get()) < 0 || frame->width <= 0
        || frame->height <= 0
        || static_cast<int64_t>(frame->width) * frame->height > Bitmap::kMaxPixels) {
        return nullptr;
    }
    auto bitmap = toBitmap(*frame, frame->width, frame->height);
    if (bitmap && id == AV_CODEC_ID_MJPEG) {
        bitmap->setOpaque(true);
    }
    return bitmap ? upright(std::move(bitmap), bytes) : nullptr;
}

std::pair<std::optional<std::string>, std::optional<Error>> PictureCodec::encodeJPEG(
        const Bitmap& bitmap, double quality) {
    const int width = bitmap.width();
    const int height = bitmap.height();

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    libav::CodecContextPtr encoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
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
    libav::FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUVJ420P;
    frame->quality = encoder->global_quality;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return {std::nullopt, encodeError("out of memory")};
    }
    const libav::ScalerPtr scaler(sws_getContext(width, height, libavFormat(bitmap.format()), width,
                                                 height, AV_PIX_FMT_YUVJ420P, SWS_BILINEAR, nullptr,
                                                 nullptr, nullptr));
    if (!scaler) {
        return {std::nullopt, encodeError("cannot convert the picture")};
    }
    const uint8_t* planes[4] = {bitmap.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(bitmap.stride()), 0, 0, 0};
    sws_scale(scaler.get(), planes, strides, 0, height, frame->data, frame->linesize);

    libav::PacketPtr packet(av_packet_alloc());
    if (avcodec_send_frame(encoder.get(), frame.get()) < 0
        || avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        return {std::nullopt, encodeError("JPEG encoding failed")};
    }
    return {std::string(reinterpret_cast<const char*>(packet->data),
                        static_cast<size_t>(packet->size)),
            std::nullopt};
}

}  // namespace pelmar::image
