#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/AudioStreamData.h"
#include "pelmar/core/DeviceInfoData.h"
#include "pelmar/platform/foundation/Json.h"

// AudioData: the typed form of the service's JSON description of one audio, filled field by field
// from a JSON object with the lenient readers (the JSON key is the field's name).
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class AudioData {
public:
    // Every field holds its cleared value.
    AudioData();

    // Filled from `dict` when given, else cleared.
    explicit AudioData(const std::optional<Json>& dict);

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    void setInfo(const Json& dict);

    // Stores the cleared value in every field: "", 0, empty lists, new cleared nested models.
    void clear();

    std::optional<double> created;
    std::optional<std::string> createdBy;
    std::optional<AudioStreamData> default_stream;
    std::optional<DeviceInfoData> device_info;
    std::optional<double> duration;
    std::optional<std::string> embed_audio_url;
    std::optional<double> max_duration;
    std::optional<double> min_duration;
    // Read as text like the other string fields; cleared to "".
    std::optional<std::string> moderation_reason;
    std::optional<AudioStreamData> original_stream;
    std::optional<double> rating;
    std::optional<int64_t> state;
    std::optional<std::string> state_lower;
    std::optional<std::string> state_string;
    std::optional<double> stream_submission_date;
    std::vector<AudioStreamData> streams;
    std::optional<double> submission_date;
    std::optional<int64_t> submitted;
    std::vector<std::string> tags;
    std::optional<std::string> title;
    std::optional<std::string> token;
    std::optional<std::string> transcript_language;
    std::optional<std::string> type;
    std::optional<double> updated;
    std::optional<std::string> updatedBy;
    std::optional<std::string> user_language;
    // The JSON member "volatile" (a C++ keyword).
    std::optional<int64_t> volatile_;
};

}  // namespace pelmar
