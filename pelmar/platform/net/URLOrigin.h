#pragma once

#include <optional>
#include <string>
#include <string_view>

// URL origins: the scheme, host and port that say which server a URL reaches, so that callers
// can decide whether a URL belongs to a host they trust.
// Ownership: free functions on values.
// Threads: thread-safe.
// Errors: std::nullopt for text that does not parse as an absolute http or https URL.

namespace pelmar::net {

// "scheme://host:port" with scheme and host in lower case and the default port written out:
// "HTTPS://Example.com/a?b" gives "https://example.com:443". Only http and https URLs have one.
std::optional<std::string> urlOrigin(std::string_view url);

// The host of an http or https URL in lower case: "https://Img.Example.com:8443/a" gives
// "img.example.com".
std::optional<std::string> urlHost(std::string_view url);

}  // namespace pelmar::net
