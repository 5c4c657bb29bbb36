#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// DataURL: reads a "data:" URL (RFC 2397): its media type and its bytes, base64 or
// percent-encoded.
// Ownership: static functions; the bytes returned are the caller's.
// Threads: thread-safe.
// Errors: nothing for a URL that is not a well-formed data URL.
// Limits: the decoded bytes are at most kMaxBytes.

namespace pelmar::net::internal {

struct DataURLContent {
    std::string mediaType;  // "text/plain;charset=US-ASCII" when the URL names none
    std::string bytes;
};

class DataURL {
public:
    static constexpr std::size_t kMaxBytes = 128 * 1024 * 1024;

    DataURL() = delete;

    // True when `url` begins with "data:" (any case).
    static bool isDataURL(std::string_view url);

    static std::optional<DataURLContent> decode(std::string_view url);
};

}  // namespace pelmar::net::internal
