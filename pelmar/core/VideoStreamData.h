#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

// VideoStreamData: the typed form of the service's JSON description of one stream of a video,
// filled field by field from a JSON object with the lenient readers (the JSON key is the field's
// name).
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class VideoStreamData {
public:
    // Every field holds its cleared value.
    VideoStreamData();

    // Filled from `dict` when given, else cleared.
    explicit VideoStreamData(const std::optional<Json>& dict);

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    void setInfo(const Json& dict);

    // Stores the cleared value in every field: "", 0, empty lists, new cleared nested models.
    void clear();

    std::optional<std::string> audio_type;
    std::optional<double> created;
    std::optional<int64_t> creation_type;
    std::optional<std::string> creation_type_string;
    std::optional<int64_t> default_definitive;
    std::optional<std::string> default_stream_id;
    std::optional<std::string> duration;
    std::optional<std::string> embed_image_url;
    std::optional<int64_t> has_audio;
    std::optional<int64_t> has_image;
    std::optional<int64_t> has_video;
    std::optional<double> image_size;
    std::optional<std::string> image_type;
    std::optional<int64_t> is_image_only;
    std::optional<int64_t> owned;
    std::optional<int64_t> state;
    std::optional<std::string> state_string;
    std::optional<int64_t> streamable;
    // True when cleared; false when filled from a JSON object without that key.
    std::optional<bool> streamable_string;
    std::optional<std::string> token;
    std::optional<std::string> type;
    std::optional<int64_t> video_has_audio;
    std::optional<double> video_height;
    std::optional<double> video_size;
    std::optional<std::string> video_sub_type;
    std::optional<std::string> video_token;
    std::optional<std::string> video_type;
    std::optional<double> video_width;
    // The JSON member "volatile" (a C++ keyword).
    std::optional<int64_t> volatile_;
};

}  // namespace pelmar
