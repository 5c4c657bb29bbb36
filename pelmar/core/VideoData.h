#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/DeviceInfoData.h"
#include "pelmar/core/VideoStreamData.h"
#include "pelmar/platform/foundation/Json.h"

// VideoData: the typed form of the service's JSON description of one video, filled field by field
// from a JSON object with the lenient readers (the JSON key is the field's name).
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class VideoData {
public:
    // Every field holds its cleared value.
    VideoData();

    // Filled from `dict` when given, else cleared.
    explicit VideoData(const std::optional<Json>& dict);

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    void setInfo(const Json& dict);

    // Stores the cleared value in every field: "", 0, empty lists, new cleared nested models.
    void clear();

    std::optional<double> created;
    std::optional<std::string> data;
    std::optional<std::string> default_image_selector;
    std::optional<VideoStreamData> default_stream;
    std::optional<int64_t> delete_old_streams;
    std::optional<DeviceInfoData> device_info;
    std::optional<std::string> duration;
    std::optional<std::string> embed_image_url;
    std::optional<std::string> embed_video_url;
    std::optional<int64_t> enforce_duration;
    std::optional<std::string> expiration_days;
    std::optional<int64_t> only_audio;
    std::optional<VideoStreamData> original_stream;
    std::optional<int64_t> owned;
    std::optional<int64_t> state;
    std::optional<std::string> state_string;
    std::optional<double> stream_submission_date;
    std::vector<VideoStreamData> streams;
    std::optional<double> submission_date;
    std::optional<int64_t> submitted;
    std::vector<std::string> tags;
    std::optional<std::string> title;
    std::optional<std::string> token;
    std::optional<std::string> transcript_language;
    std::optional<std::string> type;
    std::optional<std::string> user_language;
    std::optional<std::string> video_file_name;
    std::optional<std::string> video_profile;
    std::optional<std::string> video_source;
    // The JSON member "volatile" (a C++ keyword).
    std::optional<int64_t> volatile_;
};

}  // namespace pelmar
