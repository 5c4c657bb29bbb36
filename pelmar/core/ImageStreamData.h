#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pelmar/core/MediaStreamData.h"
#include "pelmar/platform/foundation/Json.h"

// ImageStreamData: the typed form of the service's JSON description of one stream of an image: the
// fields every media stream has (MediaStreamData) and its own below, each read under its own name
// as its JSON key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class ImageStreamData : public MediaStreamData<ImageStreamData> {
public:
    // Every field holds its cleared value.
    ImageStreamData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit ImageStreamData(const std::optional<Json>& dict) { fill(dict); }

    std::optional<std::string> file_path;
    std::optional<std::string> image_file_id;
    std::optional<double> image_height;
    std::optional<double> image_size;
    std::optional<std::string> image_token;
    std::optional<std::string> image_type;
    std::optional<double> image_width;
    std::optional<double> rotation;
    std::optional<std::string> storage;
    std::optional<double> submission_date;
    std::optional<double> transcoding_duration;
    std::optional<double> updated;

private:
    friend class DataModel<ImageStreamData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        this->visitSharedFields(visit);
        visit("file_path", file_path);
        visit("image_file_id", image_file_id);
        visit("image_height", image_height);
        visit("image_size", image_size);
        visit("image_token", image_token);
        visit("image_type", image_type);
        visit("image_width", image_width);
        visit("rotation", rotation);
        visit("storage", storage);
        visit("submission_date", submission_date);
        visit("transcoding_duration", transcoding_duration);
        visit("updated", updated);
    }
};

}  // namespace pelmar
