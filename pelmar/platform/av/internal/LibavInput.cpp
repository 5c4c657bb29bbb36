#include "pelmar/platform/av/internal/LibavInput.h"

extern "C" {
#include <libavutil/display.h>
}

#include <curl/curl.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <string>
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

bool isHttpUrl(std::string_view url) {
    const auto colon = url.find("://");
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string scheme(url.substr(0, colon));
    for (char& ch : scheme) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return scheme == "http" || scheme == "https";
}

// The authorities libcurl trusts (the system's bundle), so that FFmpeg's TLS trusts the same.
const char* systemCertificates() {
    static const std::string bundle = [] {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        return info != nullptr && info->cainfo != nullptr ? std::string(info->cainfo)
                                                          : std::string();
    }();
    return bundle.empty() ? nullptr : bundle.c_str();
}

void verifyTls(AVDictionary** options) {
    av_dict_set(options, "tls_verify", "1", 0);
    if (const char* bundle = systemCertificates()) {
        av_dict_set(options, "ca_file", bundle, 0);
    }
}

using IoOpen = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);

// libavformat's own way of opening the further URLs a demuxer names (playlist segments).
IoOpen defaultIoOpen() {
    static const IoOpen open = [] {
        AVFormatContext* probe = avformat_alloc_context();
        const IoOpen found = probe != nullptr ? probe->io_open : nullptr;
        avformat_free_context(probe);
        return found;
    }();
    return open;
}

// A further URL named by a remote movie (an HLS segment, a key) is opened only when it is http(s),
// and then with its certificate verified.
int openFurtherUrl(AVFormatContext* format,
                   AVIOContext** io,
                   const char* url,
                   int flags,
                   AVDictionary** options) {
    if (url == nullptr || !isHttpUrl(url) || defaultIoOpen() == nullptr) {
        return AVERROR(EPERM);
    }
    verifyTls(options);
    return defaultIoOpen()(format, io, url, flags, options);
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
        verifyTls(&options);
    }
    if (io != nullptr || remote) {
        // Remote bytes never make the demuxer open anything but http(s) (a playlist naming a
        // local file, say), and what it does open is verified as the movie itself.
        av_dict_set(&options, "protocol_whitelist", kRemoteProtocols, 0);
        raw->io_open = openFurtherUrl;
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
