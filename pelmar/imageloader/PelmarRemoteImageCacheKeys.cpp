#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace pelmar {
namespace {

// UTF-16 units of UTF-8 text: one per character, two for those beyond the basic plane.
std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (const unsigned char c : text) {
        if ((c & 0xC0) != 0x80) {
            units += c >= 0xF0 ? 2 : 1;
        }
    }
    return units;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t found = text.find(separator, start);
        if (found == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, found - start));
        start = found + separator.size();
    }
}

// The leading integer of `text` after white space, as a number reader would take it: 0 when
// there is none.
int64_t integerValue(std::string_view text) {
    text = trim(text);
    int64_t value = 0;
    const char* begin = text.data();
    if (!text.empty() && text.front() == '+') {
        ++begin;
    }
    std::from_chars(begin, text.data() + text.size(), value);
    return value;
}

void appendField(std::string& out, std::string_view field) {
    const uint64_t size = field.size();
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    out.append(field);
}

std::optional<std::string_view> takeField(std::string_view& in) {
    if (in.size() < 8) {
        return std::nullopt;
    }
    uint64_t size = 0;
    for (int i = 0; i < 8; ++i) {
        size = (size << 8) | static_cast<unsigned char>(in[i]);
    }
    in.remove_prefix(8);
    if (size > in.size()) {
        return std::nullopt;
    }
    const auto field = in.substr(0, size);
    in.remove_prefix(size);
    return field;
}

constexpr std::string_view kResumeMagic = "PelmarResume1";

}  // namespace

std::string PelmarRemoteImageCacheKeys::md5Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1
        || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1
        || EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0xF]);
    }
    return text;
}

std::optional<std::string> PelmarRemoteImageCacheKeys::cacheKeyForURL(
        const std::optional<std::string>& url, std::string_view processorKey, bool resume) {
    if (!url) {
        return std::nullopt;
    }
    std::string key = *url;
    if (!processorKey.empty()) {
        key += "-<";
        key += processorKey;
        key += ">";
    }
    // A string never has more UTF-16 units than UTF-8 bytes, so short keys need no count.
    if (key.size() > kMaxPlainKeyLength && utf16Length(key) > kMaxPlainKeyLength) {
        key = md5Hex(key);
    }
    if (resume) {
        key.insert(0, kPelmarRemoteImageCacheKeyResumePrefix);
    }
    return key;
}

bool PelmarRemoteImageCacheKeys::keyIsURL(std::string_view url, std::string_view processorKey) {
    return processorKey.empty()
           && (url.size() <= kMaxPlainKeyLength || utf16Length(url) <= kMaxPlainKeyLength);
}

std::optional<int64_t> PelmarRemoteImageCacheKeys::findMaxAge(const net::HTTPURLResponse& response,
                                                              double now) {
    std::optional<int64_t> maxAge;
    if (const auto cacheControl = response.value("Cache-Control")) {
        for (const auto part : split(*cacheControl, ",")) {
            std::string directive(trim(part));
            std::transform(directive.begin(), directive.end(), directive.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (directive == "no-store" || directive == "must-revalidate"
                || directive == "no-cache") {
                return 0;
            }
            const auto pieces = split(directive, "max-age=");
            if (pieces.size() == 2) {
                // A negative age means as little as none.
                maxAge = std::max<int64_t>(0, integerValue(pieces[1]));
            } else if (pieces.size() > 2) {
                maxAge = 0;
            }
        }
    }
    if (maxAge) {
        return maxAge;
    }
    if (const auto expires = response.value("Expires")) {
        const auto date = parseHTTPDate(*expires);
        if (!date) {
            return 0;
        }
        return std::max<int64_t>(0, static_cast<int64_t>(*date - now));
    }
    return std::nullopt;
}

std::optional<double> PelmarRemoteImageCacheKeys::parseHTTPDate(std::string_view text) {
    const std::string date(trim(text));
    std::tm parts{};
    const char* rest = strptime(date.c_str(), "%a, %d %b %Y %H:%M:%S", &parts);
    if (rest == nullptr) {
        return std::nullopt;
    }
    std::string_view zone = trim(rest);
    long offset = 0;
    if (zone == "GMT" || zone == "UTC" || zone == "Z") {
        offset = 0;
    } else if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')
               && std::all_of(zone.begin() + 1, zone.end(),
                              [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        const long hours = (zone[1] - '0') * 10 + (zone[2] - '0');
        const long minutes = (zone[3] - '0') * 10 + (zone[4] - '0');
        offset = (zone[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    } else {
        return std::nullopt;
    }
    return static_cast<double>(timegm(&parts) - offset);
}

std::string PelmarRemoteImageCacheKeys::encodeResume(const PelmarResume& resume) {
    std::string out(kResumeMagic);
    appendField(out, resume.resumeData);
    appendField(out, resume.ifRange);
    appendField(out, std::to_string(resume.totalBytes));
    return out;
}

std::optional<PelmarResume> PelmarRemoteImageCacheKeys::decodeResume(std::string_view bytes) {
    if (bytes.substr(0, kResumeMagic.size()) != kResumeMagic) {
        return std::nullopt;
    }
    bytes.remove_prefix(kResumeMagic.size());
    const auto data = takeField(bytes);
    const auto ifRange = takeField(bytes);
    const auto total = takeField(bytes);
    if (!data || !ifRange || !total || !bytes.empty()) {
        return std::nullopt;
    }
    int64_t totalBytes = 0;
    const auto [end, error] =
            std::from_chars(total->data(), total->data() + total->size(), totalBytes);
    if (error != std::errc() || end != total->data() + total->size() || totalBytes <= 0) {
        return std::nullopt;
    }
    return PelmarResume{std::string(*data), std::string(*ifRange), totalBytes};
}

}  // namespace pelmar
