#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

// FileSelectorConfig: the media types (uniform type identifiers) the file selector offers.
// Ownership: reference object held by std::shared_ptr; the facade replaces it whole.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar {

class FileSelectorConfig {
public:
    // Movie, video, audio and image identifiers, in that order.
    FileSelectorConfig();

    explicit FileSelectorConfig(std::vector<std::string> mediaType_)
        : mediaType(std::move(mediaType_)) {}

    // {"mediaType": [...]}.
    Json encode() const { return Json{{"mediaType", mediaType}}; }

    // The four identifiers a new configuration starts with.
    static std::vector<std::string> defaultMediaTypes();

    std::vector<std::string> mediaType;
};

}  // namespace pelmar
