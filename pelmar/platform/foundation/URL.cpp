#include "pelmar/platform/foundation/URL.h"

#include <cctype>

namespace pelmar::foundation {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string percentEncode(std::string_view text, const CharacterSet& allowed) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (allowed.contains(c)) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string fileURLFromPath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) {
        absolute = path;
    }
    return "file://" + percentEncode(absolute.string(), kPathAllowedChars);
}

std::optional<std::string> pathFromFileURL(std::string_view url) {
    constexpr std::string_view kScheme = "file://";
    if (!startsWithNoCase(url, kScheme)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(kScheme.size());
    const size_t end = rest.find_first_of("?#");
    if (end != std::string_view::npos) {
        rest = rest.substr(0, end);
    }
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost"))) {
        return std::nullopt;
    }
    std::optional<std::string> path = percentDecode(rest.substr(slash));
    if (!path || path->find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return path;
}

}  // namespace pelmar::foundation
