#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

// DeviceInfoData: the typed form of the service's JSON description of the device and client that
// the service keeps with a video, audio or image, filled field by field from a JSON object with the
// lenient readers (the JSON key is the field's name).
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class DeviceInfoData {
public:
    // Every field holds its cleared value.
    DeviceInfoData();

    // Filled from `dict` when given, else cleared.
    explicit DeviceInfoData(const std::optional<Json>& dict);

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    void setInfo(const Json& dict);

    // Stores the cleared value in every field: "", 0, empty lists, new cleared nested models.
    void clear();

    std::optional<int64_t> api_version;
    std::optional<std::string> browser;
    std::optional<std::string> capture_type;
    std::optional<std::string> device;
    std::optional<std::string> embed_code;
    std::optional<std::string> location;
    std::optional<std::string> media_source;
    std::optional<std::string> os;
    std::optional<std::string> userAgent;
    std::optional<int64_t> version;
};

}  // namespace pelmar
