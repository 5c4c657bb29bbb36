// "data:" URLs of arbitrary text: nothing may crash, and a URL that decodes must give no more
// than the cap and a media type.
#include "pelmar/platform/net/internal/DataURL.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = "data:" + std::string(reinterpret_cast<const char*>(data), size);
    if (const auto content = pelmar::net::internal::DataURL::decode(text)) {
        if (content->bytes.size() > pelmar::net::internal::DataURL::kMaxBytes
            || content->mediaType.empty()) {
            std::abort();
        }
    }
    return 0;
}
