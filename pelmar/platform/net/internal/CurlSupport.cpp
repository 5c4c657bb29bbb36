#include "pelmar/platform/net/internal/CurlSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "pelmar/platform/net/URLError.h"

namespace pelmar::net::internal {

namespace {

bool isTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
           || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

bool isSafeHeaderValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            std::fputs("pelmar: libcurl could not be initialised\n", stderr);
            std::abort();
        }
    });
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Why `request` cannot be sent, if it cannot.
std::optional<Error> checkRequest(const URLRequest& request) {
    // libcurl takes the URL as a C string: a NUL byte would cut it short.
    if (request.url.find('\0') != std::string::npos) {
        return urlError(kURLErrorBadURL, "the URL holds a NUL byte");
    }
    UrlHandle url(curl_url());
    if (!url) {
        return urlError(kURLErrorUnknown, "out of memory");
    }
    if (curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), 0) != CURLUE_OK) {
        return urlError(kURLErrorBadURL, "cannot parse the URL \"" + request.url + "\"");
    }
    char* rawScheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &rawScheme, 0) != CURLUE_OK) {
        return urlError(kURLErrorBadURL, "the URL \"" + request.url + "\" has no scheme");
    }
    const std::string scheme = lowerAscii(CurlString(rawScheme).get());
    if (scheme != "http" && scheme != "https") {
        return urlError(kURLErrorUnsupportedURL, "unsupported URL scheme \"" + scheme + "\"");
    }
    if (!isToken(request.httpMethod)) {
        return urlError(kURLErrorBadRequest, "invalid HTTP method \"" + request.httpMethod + "\"");
    }
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        if (!isToken(name) || !isSafeHeaderValue(value)) {
            return urlError(kURLErrorBadRequest, "invalid header field \"" + name + "\"");
        }
    }
    return std::nullopt;
}

Error errorFromCurl(CURLcode code, const char* detail) {
    // libcurl's detail often ends in its own text for the code already ("Failed to connect to
    // h port p after 0 ms: Couldn't connect to server"); the code's text is said once.
    std::string message = curl_easy_strerror(code);
    if (detail != nullptr && detail[0] != '\0') {
        const std::string_view more(detail);
        message = more.find(message) != std::string_view::npos ? std::string(more)
                                                               : message + ": " + std::string(more);
    }
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return urlError(kURLErrorUnsupportedURL, std::move(message));
        case CURLE_URL_MALFORMAT:
            return urlError(kURLErrorBadURL, std::move(message));
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return urlError(kURLErrorCannotFindHost, std::move(message));
        case CURLE_COULDNT_CONNECT:
            return urlError(kURLErrorCannotConnectToHost, std::move(message));
        case CURLE_OPERATION_TIMEDOUT:
            return urlError(kURLErrorTimedOut, std::move(message));
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            return urlError(kURLErrorNetworkConnectionLost, std::move(message));
        case CURLE_TOO_MANY_REDIRECTS:
            return urlError(kURLErrorHTTPTooManyRedirects, std::move(message));
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_BAD_CONTENT_ENCODING:
            return urlError(kURLErrorBadServerResponse, std::move(message));
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return urlError(kURLErrorServerCertificateUntrusted, std::move(message));
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_CRL_BADFILE:
            return urlError(kURLErrorSecureConnectionFailed, std::move(message));
        default:
            return urlError(kURLErrorUnknown, std::move(message));
    }
}

std::optional<std::string> resolveReference(const std::string& base, const std::string& reference) {
    if (base.find('\0') != std::string::npos || reference.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    UrlHandle url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK
        || curl_url_set(url.get(), CURLUPART_URL, reference.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    char* resolved = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK || resolved == nullptr) {
        return std::nullopt;
    }
    return std::string(CurlString(resolved).get());
}

URLProtectionSpace protectionSpaceOf(const std::string& url) {
    URLProtectionSpace space;
    UrlHandle parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return space;
    }
    char* part = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        space.protocol = lowerAscii(CurlString(part).get());
    }
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        space.host = CurlString(part).get();
    }
    if (curl_url_get(parsed.get(), CURLUPART_PORT, &part, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        space.port = std::atoi(CurlString(part).get());
    }
    return space;
}

}  // namespace pelmar::net::internal
