#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/ImageStreamData.h"
#include "pelmar/core/MediaResourceData.h"
#include "pelmar/platform/foundation/Json.h"

// ImageData: the typed form of the service's JSON description of one image: the fields every media
// description has (MediaResourceData) and its own below, each read under its own name as its JSON
// key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class ImageData : public MediaResourceData<ImageData, ImageStreamData> {
public:
    // Every field holds its cleared value.
    ImageData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit ImageData(const std::optional<Json>& dict) { fill(dict); }

    std::optional<std::string> approved;
    std::optional<std::string> data;
    std::optional<std::string> embed_image_url;
    std::optional<std::string> image_file_name;
    std::optional<std::string> image_source;
    std::optional<std::string> state_lower;
    std::optional<double> updated;
    std::optional<int64_t> user_language;

private:
    friend class DataModel<ImageData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        this->visitSharedFields(visit);
        visit("approved", approved);
        visit("data", data);
        visit("embed_image_url", embed_image_url);
        visit("image_file_name", image_file_name);
        visit("image_source", image_source);
        visit("state_lower", state_lower);
        visit("updated", updated);
        visit("user_language", user_language);
    }
};

}  // namespace pelmar
