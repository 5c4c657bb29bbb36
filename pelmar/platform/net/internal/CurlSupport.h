#pragma once

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/net/URLAuthenticationChallenge.h"
#include "pelmar/platform/net/URLRequest.h"

// CurlSupport: the transport's small pieces around libcurl: owning handles, the one global
// initialisation, the checks a request passes before libcurl sees it, the mapping of libcurl's
// results to kURLErrorDomain errors, and the protection space of a URL.
// Ownership: the handles own what they hold; the functions keep nothing.
// Threads: thread-safe.
// Errors: checkRequest answers the error a request would fail with, or none.

namespace pelmar::net::internal {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// curl_global_init, once per process; aborts when libcurl cannot start.
void initializeCurlOnce();

std::string lowerAscii(std::string text);

// Why the transport refuses `request` before sending it (a NUL byte or no parsable URL, a scheme
// other than http or https, a bad method or header field), or none.
std::optional<Error> checkRequest(const URLRequest& request);

// The kURLErrorDomain error of a failed transfer; `detail` is libcurl's error buffer.
Error errorFromCurl(CURLcode code, const char* detail);

// `reference` (a redirect's Location: absolute, scheme-relative or relative) resolved against
// the absolute URL `base`; none when either does not parse.
std::optional<std::string> resolveReference(const std::string& base, const std::string& reference);

// Host, port and scheme of `url`, for a challenge.
URLProtectionSpace protectionSpaceOf(const std::string& url);

}  // namespace pelmar::net::internal
