#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pelmar/core/DataModel.h"
#include "pelmar/platform/foundation/Json.h"

// DeviceInfoData: the typed form of the service's JSON description of the device and client that
// the service keeps with a video, audio or image: the fields below, each read under its own name as
// its JSON key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class DeviceInfoData : public DataModel<DeviceInfoData> {
public:
    // Every field holds its cleared value.
    DeviceInfoData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit DeviceInfoData(const std::optional<Json>& dict) { fill(dict); }

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

private:
    friend class DataModel<DeviceInfoData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        visit("api_version", api_version);
        visit("browser", browser);
        visit("capture_type", capture_type);
        visit("device", device);
        visit("embed_code", embed_code);
        visit("location", location);
        visit("media_source", media_source);
        visit("os", os);
        visit("userAgent", userAgent);
        visit("version", version);
    }
};

}  // namespace pelmar
