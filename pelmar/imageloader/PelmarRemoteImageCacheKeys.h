#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/imageloader/PelmarRemoteImageTask.h"
#include "pelmar/platform/net/HTTPURLResponse.h"

namespace pelmar {

// Put in front of the cache key of a URL's resume record.
inline constexpr std::string_view kPelmarRemoteImageCacheKeyResumePrefix = "R-";

// PelmarRemoteImageCacheKeys: how the image loader names what it caches: the cache key of a URL
// and processor key, the key of a URL's resume record, the maximum age an HTTP response allows,
// and the byte form of a resume record for a persistent cache.
// Ownership: static functions on values.
// Threads: thread-safe.
// Errors: absent results, never exceptions.
// Limits: keys longer than kMaxPlainKeyLength characters become their MD5 digest.
class PelmarRemoteImageCacheKeys {
public:
    static constexpr std::size_t kMaxPlainKeyLength = 200;

    PelmarRemoteImageCacheKeys() = delete;

    // The URL, followed by "-<processorKey>" when the processor key is not empty; from 201
    // characters (UTF-16 units) up, the 32 lowercase hex digits of the MD5 of its UTF-8 bytes.
    // With `resume`, "R-" in front. None for no URL.
    static std::optional<std::string> cacheKeyForURL(const std::optional<std::string>& url,
                                                     std::string_view processorKey = {},
                                                     bool resume = false);

    // Whether cacheKeyForURL(url, processorKey) is the URL itself, so that a caller holding the
    // URL can look it up without building the key.
    static bool keyIsURL(std::string_view url, std::string_view processorKey);

    static std::optional<std::string> resumeCacheKeyForURL(const std::optional<std::string>& url) {
        return cacheKeyForURL(url, {}, true);
    }

    // 32 lowercase hexadecimal digits.
    static std::string md5Hex(std::string_view bytes);

    // Seconds the response may be kept: 0 for "no-store", "no-cache", "must-revalidate", a zero,
    // negative or malformed max-age, or an Expires date in the past or unparseable; the last
    // max-age of Cache-Control; else the seconds until Expires; none without either header.
    // `now` is wall time in seconds since the Unix epoch.
    static std::optional<int64_t> findMaxAge(const net::HTTPURLResponse& response, double now);

    // An RFC 7231 date ("Sun, 06 Nov 1994 08:49:37 GMT" or with a numeric zone) as seconds since
    // the Unix epoch.
    static std::optional<double> parseHTTPDate(std::string_view text);

    static std::string encodeResume(const PelmarResume& resume);

    static std::optional<PelmarResume> decodeResume(std::string_view bytes);
};

}  // namespace pelmar
