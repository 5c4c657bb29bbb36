#pragma once

#include <optional>
#include <string>
#include <string_view>

// URL contents: the bytes a "data:" URL carries, read at once without a session.
// Ownership: a free function returning a value.
// Threads: thread-safe.
// Errors: nothing for any other URL or a malformed data URL.
// Limits: as DataURL, at most 128 MiB of decoded bytes.

namespace pelmar::net {

// The decoded bytes of a "data:" URL (base64 or percent-encoded).
std::optional<std::string> dataWithContentsOfURL(std::string_view url);

}  // namespace pelmar::net
