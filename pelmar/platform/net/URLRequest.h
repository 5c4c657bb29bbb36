#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// URLRequest: what a URL session task sends: URL text, method, header fields, optional body and
// the idle time-out.
// Ownership: a plain value type.
// Threads: thread-compatible.
// Errors: none here; a request that cannot be sent (unparsable URL, a header holding a line
//     break) fails its task with a kURLErrorDomain error.

namespace pelmar::net {

// Header fields in the order they were first set; names compare without regard to ASCII case.
using HTTPHeaderFields = std::vector<std::pair<std::string, std::string>>;

class URLRequest {
public:
    URLRequest() = default;

    explicit URLRequest(std::string urlText, double timeout = 60.0)
        : url(std::move(urlText)), timeoutInterval(timeout) {}

    std::string url;
    std::string httpMethod = "GET";
    HTTPHeaderFields allHTTPHeaderFields;
    std::optional<std::string> httpBody;
    // Seconds without any byte moving (and the longest connect) before the task fails with
    // kURLErrorTimedOut. Not a limit on the whole transfer.
    double timeoutInterval = 60.0;
    // Set on requests that carry credentials (tokens in the query or the body): a redirect is
    // followed only when it stays on the request's origin (scheme, host and port); any other one
    // ends the task with kURLErrorRedirectToAnotherOrigin before anything is sent there.
    bool redirectsWithinOriginOnly = false;
    // Values a client attaches for its own use, read back from the task's request; never sent.
    std::map<std::string, std::shared_ptr<const void>, std::less<>> properties;

    // Replaces the value of `field` (keeping its place) or appends it.
    void setValue(std::string value, std::string_view field);

    std::optional<std::string> value(std::string_view field) const;
};

// ASCII case-insensitive comparison of header names.
bool headerNameEquals(std::string_view a, std::string_view b);

}  // namespace pelmar::net
