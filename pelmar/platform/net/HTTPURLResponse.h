#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/net/URLRequest.h"

// HTTPURLResponse: the head of an HTTP answer: status code, header fields and the URL that
// answered (after redirects).
// Ownership: immutable; shared by shared_ptr<const HTTPURLResponse>.
// Threads: thread-safe (immutable).
// Errors: none.

namespace pelmar::net {

class HTTPURLResponse {
public:
    HTTPURLResponse(std::string url, long statusCode, HTTPHeaderFields headerFields)
        : url_(std::move(url)), statusCode_(statusCode), headerFields_(std::move(headerFields)) {}

    const std::string& url() const { return url_; }

    long statusCode() const { return statusCode_; }

    // In the order received; a repeated name appears once per line.
    const HTTPHeaderFields& allHeaderFields() const { return headerFields_; }

    // The first value of `field` (ASCII case-insensitive).
    std::optional<std::string> value(std::string_view field) const;

private:
    std::string url_;
    long statusCode_;
    HTTPHeaderFields headerFields_;
};

}  // namespace pelmar::net
