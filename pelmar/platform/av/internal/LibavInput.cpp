#include "pelmar/platform/av/internal/LibavInput.h"

extern "C" {
#include <libavutil/display.h>
}

#include <cerrno>
#include <cmath>
#include <string_view>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/av/URLAsset.h"

namespace pelmar::av::internal {

namespace {

int interrupted(void* opaque) {
    const auto* stop = static_cast<const std::function<bool()>*>(opaque);
    return stop != nullptr && *stop && (*stop)() ? 1 : 0;
}

Error assetError(long code, std::string message) {
    return Error{std::string(kAssetErrorDomain), code, std::move(message)};
}

}  // namespace

Error LibavInput::errorFor(int averr, const std::string& location) {
    const std::string why = location + ": " + libav::avErrorText(averr);
    if (averr == AVERROR(ENOENT) || averr == AVERROR_HTTP_NOT_FOUND) {
        return assetError(kAssetErrorNotFound, "cannot find " + why);
    }
    if (averr == AVERROR_INVALIDDATA || averr == AVERROR_DECODER_NOT_FOUND
        || averr == AVERROR_DEMUXER_NOT_FOUND || averr == AVERROR_STREAM_NOT_FOUND
        || averr == AVERROR_PATCHWELCOME || averr == AVERROR(EINVAL)) {
        return assetError(kAssetErrorUnparsable, "cannot parse " + why);
    }
    return assetError(kAssetErrorUnreadable, "cannot read " + why);
}

int LibavInput::quarterTurns(const AVStream& stream) {
    const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix == nullptr) {
        return 0;
    }
    const double degrees = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(degrees)) {
        return 0;
    }
    return static_cast<int>(((std::lround(degrees / 90.0) % 4) + 4) % 4);
}

libav::InputFormatPtr LibavInput::open(const std::string& location,
                                       bool remote,
                                       const std::function<bool()>* stop,
                                       std::optional<Error>& error,
                                       AVIOContext* io) {
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        error = assetError(kAssetErrorUnreadable, "out of memory");
        return nullptr;
    }
    raw->interrupt_callback.callback = interrupted;
    raw->interrupt_callback.opaque = const_cast<std::function<bool()>*>(stop);
    raw->probesize = URLAsset::kMaxProbeBytes;
    AVDictionary* options = nullptr;
    if (io != nullptr) {
        raw->pb = io;
        raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if (remote) {
        const auto micros = static_cast<int64_t>(URLAsset::kNetworkTimeoutSeconds * 1e6);
        av_dict_set_int(&options, "rw_timeout", micros, 0);
        av_dict_set(&options, "reconnect", "0", 0);
    }
    // avformat_open_input frees the context itself when it fails.
    int err = avformat_open_input(&raw, location.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (err < 0) {
        error = errorFor(err, location);
        return nullptr;
    }
    libav::InputFormatPtr format(raw);
    err = avformat_find_stream_info(format.get(), nullptr);
    if (err < 0) {
        error = errorFor(err == AVERROR_EOF ? AVERROR_INVALIDDATA : err, location);
        return nullptr;
    }
    return format;
}

}  // namespace pelmar::av::internal
