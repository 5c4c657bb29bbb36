// A progressive download fed with arbitrary bytes: the first byte sets the chunk size, the rest
// arrives in chunks of that size with a render asked for after each. The scan-marker search may
// read nothing outside the bytes, count no more than the two markers it looks for, keep every
// byte in order, and decode no more often than there are thresholds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "pelmar/imageloader/PelmarProgressiveImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelmar;
    if (size == 0) {
        return 0;
    }
    static const auto recorder =
            std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    static const auto sessionManager = PelmarURLSessionManager::create({}, recorder);
    // Never started: its byte counts stay unknown, so no render waits on a speed estimate.
    static const auto dataTask =
            sessionManager->dataTaskWithRequest(net::URLRequest("http://127.0.0.1:9/fuzz"));
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    PelmarProgressiveImage image(dataTask, recorder);
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        image.updateProgressiveImageWithData(bytes.substr(at, chunk),
                                             static_cast<int64_t>(bytes.size()), false);
        double quality = 0;
        if (image.currentImageBlurred(true, {256, 256}, &quality)
            && (quality <= 0 || quality >= 0.99)) {
            std::abort();
        }
    }
    if (image.sosCount() > 2 || image.data() != bytes || image.decodeCount() > 3) {
        std::abort();
    }
    return 0;
}
