#include "pelmar/imageloader/internal/ImageRequest.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"

namespace pelmar::imageloader::internal {

namespace {

// Sixteen bytes, compared all at once.
using Bytes16 = uint8_t __attribute__((vector_size(16)));

// Whether any of the 16 bytes never stands in a URL as it is: a blank, a control or one of
// "<>\\^`{|}. Setting bit 1 of every byte folds '<' onto '>', '\\' onto '^', '}' onto DEL and
// the space onto '"', which leaves eight comparisons.
bool hasUnsafeURLByte(Bytes16 bytes) {
    const Bytes16 folded = bytes | 0x02;
    const auto unsafe = (bytes <= 0x20) | (bytes == '`') | (bytes == '{') | (bytes == '|')
                        | (folded == '>') | (folded == '^') | (folded == 0x7F) | (folded == '"');
    uint64_t halves[2];
    std::memcpy(halves, &unsafe, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

constexpr bool isASCIIAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::string newUUID() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    uint64_t high = 0;
    uint64_t low = 0;
    {
        std::lock_guard lock(mutex);
        high = generator();
        low = generator();
    }
    high = (high & ~0xF000ULL) | 0x4000ULL;            // version 4
    low = (low & ~(0xC0ULL << 56)) | (0x80ULL << 56);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

bool isUsableURL(std::string_view url) {
    if (url.empty() || !isASCIIAlpha(url.front())) {
        return false;
    }
    // The scheme runs up to the first colon; schemes are short, so no search is needed.
    std::size_t colon = 1;
    while (colon < url.size() && url[colon] != ':') {
        const char c = url[colon];
        if (!isASCIIAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return false;
        }
        ++colon;
    }
    if (colon == url.size()) {
        return false;
    }
    // Sixteen bytes at a time, the last chunk overlapping the one before; a URL shorter than
    // that is padded with a letter.
    Bytes16 chunk;
    if (url.size() < sizeof chunk) {
        std::memset(&chunk, 'a', sizeof chunk);
        std::memcpy(&chunk, url.data(), url.size());
        return !hasUnsafeURLByte(chunk);
    }
    for (std::size_t at = 0;; at += sizeof chunk) {
        const std::size_t from = std::min(at, url.size() - sizeof chunk);
        std::memcpy(&chunk, url.data() + from, sizeof chunk);
        if (hasUnsafeURLByte(chunk)) {
            return false;
        }
        if (from + sizeof chunk == url.size()) {
            return true;
        }
    }
}

bool hasScheme(std::string_view url, std::string_view scheme) {
    return url.size() > scheme.size() && url[scheme.size()] == ':'
           && std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                  return a == std::tolower(static_cast<unsigned char>(b));
              });
}

Error managerError(long code) {
    const char* message = "The image could not be loaded.";
    switch (code) {
        case kPelmarImageErrorUndecodableData:
            message = "The downloaded data is not an image that can be decoded.";
            break;
        case kPelmarImageErrorNoImageToProcess:
            message = "There was no image to process.";
            break;
        case kPelmarImageErrorProcessorReturnedNil:
            message = "The image processor returned no image.";
            break;
        case kPelmarImageErrorUnusableCacheEntry:
            message = "The cached entry could not be used as an image.";
            break;
        case kPelmarImageErrorEmptyDownload:
            message = "The download finished without any data.";
            break;
        default:
            break;
    }
    return Error{std::string(kPelmarRemoteImageManagerErrorDomain), code, message};
}

}  // namespace pelmar::imageloader::internal
