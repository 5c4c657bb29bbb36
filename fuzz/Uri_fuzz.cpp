// Parses arbitrary text as a streaming address; whatever parses must rebuild into text that parses
// back to the same parts.
#include "pelmar/live/Uri.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

using pelmar::live::Uri;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Uri uri;
    try {
        uri.Parse(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    (void)uri.GetSegments();
    const Uri again(uri.ToString());  // must not throw: the rebuilt port is always valid
    if (again.scheme != uri.scheme || again.userInformation != uri.userInformation
        || again.port != uri.port || again.path != uri.path || again.query != uri.query
        || again.fragment != uri.fragment || again.host != uri.host) {
        std::abort();
    }
    return 0;
}
