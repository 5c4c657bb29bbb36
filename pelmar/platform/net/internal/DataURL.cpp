#include "pelmar/platform/net/internal/DataURL.h"

#include <cstdint>

#include "pelmar/platform/foundation/URL.h"

namespace pelmar::net::internal {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+' || c == '-') {
        return 62;
    }
    if (c == '/' || c == '_') {
        return 63;
    }
    return -1;
}

// Base64 with or without padding; white space is skipped; anything else fails.
std::optional<std::string> base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = base64Value(c);
        if (value < 0 || padding > 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>((bits >> 8) & 0xFF);
            out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2) {
        return std::nullopt;
    }
    if (count == 2) {
        out += static_cast<char>(bits >> 4);
    } else if (count == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>((bits >> 2) & 0xFF);
    }
    return out;
}

}  // namespace

bool DataURL::isDataURL(std::string_view url) {
    return url.size() >= 5 && equalsIgnoringCase(url.substr(0, 5), "data:");
}

std::optional<DataURLContent> DataURL::decode(std::string_view url) {
    if (!isDataURL(url)) {
        return std::nullopt;
    }
    const std::string_view rest = url.substr(5);
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view header = rest.substr(0, comma);
    const std::string_view payload = rest.substr(comma + 1);
    bool base64 = false;
    if (header.size() >= 7 && equalsIgnoringCase(header.substr(header.size() - 7), ";base64")) {
        base64 = true;
        header.remove_suffix(7);
    }
    // Worst case a percent-encoded payload is 3 characters a byte, base64 4 for 3.
    if (payload.size() / 4 * 3 > kMaxBytes && payload.size() / 3 > kMaxBytes) {
        return std::nullopt;
    }
    auto unescaped = foundation::percentDecode(payload);
    if (!unescaped) {
        return std::nullopt;
    }
    std::optional<std::string> bytes = base64 ? base64Decode(*unescaped) : std::move(unescaped);
    if (!bytes || bytes->size() > kMaxBytes) {
        return std::nullopt;
    }
    DataURLContent content;
    if (header.empty()) {
        content.mediaType = "text/plain;charset=US-ASCII";
    } else if (header.front() == ';') {
        content.mediaType = "text/plain" + std::string(header);
    } else {
        content.mediaType = std::string(header);
    }
    content.bytes = std::move(*bytes);
    return content;
}

}  // namespace pelmar::net::internal
