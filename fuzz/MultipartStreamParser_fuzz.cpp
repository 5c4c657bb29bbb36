// Feeds arbitrary bytes to the service emulator's streaming multipart parser in chunks whose size
// the first input byte chooses: nothing may crash, and the file bytes handed to the sink must add
// up to the sizes the parser reports.
#include "testing/MultipartStreamParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using pelmar::test::MultipartPart;
using pelmar::test::MultipartStreamParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t chunk = 1 + data[0] % 64;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

    uint64_t fileBytes = 0;
    MultipartStreamParser parser(
            "----WebKitFormBoundaryLEjTQVMVbVg9HRYu",
            [](const MultipartPart&, size_t) { return std::string(); },
            [&fileBytes](std::string_view bytes) {
                fileBytes += bytes.size();
                return true;
            });
    for (size_t offset = 0; offset < body.size(); offset += chunk) {
        if (!parser.feed(body.substr(offset, chunk))) {
            return 0;
        }
    }
    if (!parser.finish()) {
        return 0;
    }
    uint64_t reported = 0;
    for (const MultipartPart& part : parser.parts()) {
        if (part.fileName) {
            reported += part.size;
        } else if (part.size != part.value.size()) {
            std::abort();
        }
    }
    if (reported != fileBytes) {
        std::abort();
    }
    return 0;
}
