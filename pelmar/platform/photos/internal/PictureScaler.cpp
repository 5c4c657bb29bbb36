#include "pelmar/platform/photos/internal/PictureScaler.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/image/ImageDecoder.h"
#include "pelmar/platform/image/LibavFrames.h"
#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/photos/PhotosTypes.h"
#include "pelmar/platform/photos/internal/DecodeBudget.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace pelmar::photos::internal {

namespace {

// Enough for the headers (and EXIF) of the pictures the library holds.
constexpr std::size_t kHeaderBytes = 512 * 1024;

Error unreadable(const std::filesystem::path& file, const std::string& why) {
    return Error{std::string(kPhotosErrorDomain), kPhotosErrorInvalidResource,
                 why + ": " + file.string()};
}

// `source` (4-byte pixels) reduced to width x height with an area filter, same layout.
std::shared_ptr<image::Bitmap> reduce(const image::Bitmap& source, int width, int height) {
    if (source.width() == width && source.height() == height) {
        return nullptr;
    }
    auto layout = source.layout();
    auto target = image::Bitmap::create(width, height, layout);
    if (!target) {
        return nullptr;
    }
    const AVPixelFormat format =
            layout.format == image::PixelFormat::BGRA8 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA;
    libav::ScalerPtr scaler(sws_getContext(source.width(), source.height(), format, width, height,
                                           format, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler) {
        return nullptr;
    }
    const uint8_t* srcPlanes[4] = {source.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {static_cast<int>(source.stride()), 0, 0, 0};
    if (!image::scaleInto(*scaler, srcPlanes, srcStrides, source.height(), *target)) {
        return nullptr;
    }
    return target;
}

}  // namespace

std::pair<int, int> fittedSize(
        int width, int height, double targetWidth, double targetHeight, bool fill) {
    if (width <= 0 || height <= 0) {
        return {1, 1};
    }
    double scale = 1;
    if (targetWidth > 0 && targetHeight > 0) {
        const double sx = targetWidth / width;
        const double sy = targetHeight / height;
        scale = std::min(1.0, fill ? std::max(sx, sy) : std::min(sx, sy));
    }
    return {std::max(1, static_cast<int>(std::lround(width * scale))),
            std::max(1, static_cast<int>(std::lround(height * scale)))};
}

ScaledPicture decodePicture(const std::filesystem::path& file,
                            double targetWidth,
                            double targetHeight,
                            bool fill,
                            DecodeBudget& budget) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {nullptr, unreadable(file, "cannot open")};
    }
    // The header first: the whole file is read only once the budget lets the decode run.
    std::string data(kHeaderBytes, '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(in.gcount()));
    const auto header = image::ImageDecoder::readHeader(data);
    if (!header) {
        return {nullptr, unreadable(file, "not a picture")};
    }
    std::error_code ec;
    const auto fileBytes = std::filesystem::file_size(file, ec);
    const bool turned = header->exifOrientation >= 5 && header->exifOrientation <= 8;
    const int uprightWidth = turned ? header->height : header->width;
    const int uprightHeight = turned ? header->width : header->height;
    const auto [width, height] =
            fittedSize(uprightWidth, uprightHeight, targetWidth, targetHeight, fill);
    image::ImageDecodeOptions options;
    options.minimumDimension = std::max(width, height);
    // What the decode holds at its peak: the decoded pixels (a JPEG or a plain PNG at most twice
    // the wanted size per side, anything else at full size), a converted copy and the reduced
    // picture.
    const double longer = std::max(header->width, header->height);
    const bool scaledByDecoder =
            header->format == image::ImageFormat::JPEG
            || (header->format == image::ImageFormat::PNG && !header->interlaced);
    const double side = scaledByDecoder ? std::min(longer, 2.0 * std::max(width, height)) : longer;
    const double ratio = side / longer;
    const auto cost =
            static_cast<std::size_t>(header->width * ratio * header->height * ratio * 4 * 2
                                     + double(width) * height * 4 + double(fileBytes));
    budget.acquire(cost);
    if (!ec && fileBytes > data.size()) {
        in.clear();
        in.seekg(0);
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto decoded = image::ImageDecoder::decode(data, options);
    if (!decoded.bitmap) {
        budget.release(cost);
        return {nullptr, decoded.error ? decoded.error : unreadable(file, "cannot decode")};
    }
    auto reduced = reduce(*decoded.bitmap, width, height);
    auto result = reduced ? reduced : decoded.bitmap;
    decoded.bitmap.reset();
    budget.release(cost);
    return {result, std::nullopt};
}

ScaledPicture decodeMovieFrame(const std::filesystem::path& file,
                               double targetWidth,
                               double targetHeight,
                               bool fill) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) {
        return {nullptr, unreadable(file, "cannot open movie")};
    }
    libav::InputFormatPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        return {nullptr, unreadable(file, "unreadable movie")};
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || !codec) {
        return {nullptr, unreadable(file, "no video stream")};
    }
    libav::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder
        || avcodec_parameters_to_context(decoder.get(), input->streams[index]->codecpar) < 0
        || avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return {nullptr, unreadable(file, "cannot decode movie")};
    }
    libav::PacketPtr packet(av_packet_alloc());
    libav::FramePtr frame(av_frame_alloc());
    bool got = false;
    while (!got && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == index
            && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
            got = avcodec_receive_frame(decoder.get(), frame.get()) >= 0;
        }
        av_packet_unref(packet.get());
    }
    if (!got) {
        avcodec_send_packet(decoder.get(), nullptr);
        got = avcodec_receive_frame(decoder.get(), frame.get()) >= 0;
    }
    if (!got) {
        return {nullptr, unreadable(file, "no picture in movie")};
    }
    const auto [width, height] =
            fittedSize(frame->width, frame->height, targetWidth, targetHeight, fill);
    image::BitmapLayout layout;
    layout.format = image::PixelFormat::BGRA8;
    layout.opaque = true;
    auto bitmap = image::Bitmap::create(width, height, layout);
    libav::ScalerPtr scaler(sws_getContext(frame->width, frame->height,
                                           static_cast<AVPixelFormat>(frame->format), width, height,
                                           AV_PIX_FMT_BGRA, SWS_AREA, nullptr, nullptr, nullptr));
    if (!bitmap || !scaler) {
        return {nullptr, unreadable(file, "cannot convert movie picture")};
    }
    if (!image::scaleInto(*scaler, frame->data, frame->linesize, frame->height, *bitmap)) {
        return {nullptr, unreadable(file, "cannot convert movie picture")};
    }
    return {bitmap, std::nullopt};
}

}  // namespace pelmar::photos::internal
