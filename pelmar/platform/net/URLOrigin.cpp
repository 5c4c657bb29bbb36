#include "pelmar/platform/net/URLOrigin.h"

#include <curl/curl.h>

#include <memory>
#include <string>

namespace pelmar::net {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned int flags) {
    char* raw = nullptr;
    if (curl_url_get(url, which, &raw, flags) != CURLUE_OK || raw == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<char, CurlStringDeleter> owned(raw);
    return std::string(raw);
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

std::optional<std::string> urlHost(std::string_view url) {
    const auto origin = urlOrigin(url);
    if (!origin) {
        return std::nullopt;
    }
    // "scheme://host:port", where an IPv6 host keeps its brackets and the port never has a colon.
    const std::size_t start = origin->find("://") + 3;
    return origin->substr(start, origin->rfind(':') - start);
}

std::optional<std::string> urlOrigin(std::string_view url) {
    std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
    if (!handle) {
        return std::nullopt;
    }
    const std::string text(url);
    if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    auto scheme = part(handle.get(), CURLUPART_SCHEME, 0);
    auto host = part(handle.get(), CURLUPART_HOST, 0);
    auto port = part(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || !port) {
        return std::nullopt;
    }
    *scheme = lower(*scheme);
    if (*scheme != "http" && *scheme != "https") {
        return std::nullopt;
    }
    return *scheme + "://" + lower(*host) + ":" + *port;
}

}  // namespace pelmar::net
