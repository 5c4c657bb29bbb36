#include "pelmar/platform/photos/internal/MediaProbe.h"

#include <fstream>
#include <string>

#include "pelmar/platform/image/ImageDecoder.h"
#include "pelmar/platform/libav/LibavHandles.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace pelmar::photos::internal {

namespace {

// Enough for the headers (and EXIF) of every picture the library holds.
constexpr std::size_t kHeaderBytes = 512 * 1024;

Error invalid(const std::filesystem::path& file, const std::string& why) {
    return Error{std::string(kPhotosErrorDomain), kPhotosErrorInvalidResource,
                 why + ": " + file.string()};
}

std::optional<MediaFacts> probePicture(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string head(kHeaderBytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    const auto header = image::ImageDecoder::readHeader(head);
    if (!header || header->width <= 0 || header->height <= 0) {
        return std::nullopt;
    }
    MediaFacts facts;
    facts.mediaType = AssetMediaType::Image;
    const bool turned = header->exifOrientation >= 5 && header->exifOrientation <= 8;
    facts.pixelWidth = turned ? header->height : header->width;
    facts.pixelHeight = turned ? header->width : header->height;
    return facts;
}

std::optional<MediaFacts> probeMovie(const std::filesystem::path& file) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    libav::InputFormatPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        return std::nullopt;
    }
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        return std::nullopt;
    }
    const AVStream* stream = input->streams[index];
    MediaFacts facts;
    facts.mediaType = AssetMediaType::Video;
    facts.pixelWidth = stream->codecpar->width;
    facts.pixelHeight = stream->codecpar->height;
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        facts.duration = static_cast<double>(input->duration) / AV_TIME_BASE;
    } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        facts.duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    }
    return facts;
}

}  // namespace

MediaProbeResult probeMedia(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return {{}, invalid(file, "no such file")};
    }
    if (auto picture = probePicture(file)) {
        return {*picture, std::nullopt};
    }
    if (auto movie = probeMovie(file)) {
        return {*movie, std::nullopt};
    }
    return {{}, invalid(file, "not a picture or movie")};
}

}  // namespace pelmar::photos::internal
