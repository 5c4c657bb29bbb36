// Percent-decoding and file-URL parsing of arbitrary text: nothing may crash, and whatever decodes
// must survive an encode/decode round trip unchanged.
#include "pelmar/platform/foundation/URL.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace foundation = pelmar::foundation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (auto decoded = foundation::percentDecode(text)) {
        const std::string encoded = foundation::percentEncode(*decoded);
        if (foundation::percentDecode(encoded) != decoded) {
            std::abort();
        }
    }

    if (auto path = foundation::pathFromFileURL(text)) {
        if (path->empty() || path->front() != '/') {
            return 0;
        }
        if (foundation::pathFromFileURL(foundation::fileURLFromPath(*path)) != path) {
            std::abort();
        }
    }
    return 0;
}
