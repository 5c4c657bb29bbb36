#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

// AudioStreamData: the typed form of the service's JSON description of one stream of an audio,
// filled field by field from a JSON object with the lenient readers (the JSON key is the field's
// name).
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class AudioStreamData {
public:
    // Every field holds its cleared value.
    AudioStreamData();

    // Filled from `dict` when given, else cleared.
    explicit AudioStreamData(const std::optional<Json>& dict);

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    void setInfo(const Json& dict);

    // Stores the cleared value in every field: "", 0, empty lists, new cleared nested models.
    void clear();

    std::optional<double> audio_size;
    std::optional<std::string> audio_token;
    std::optional<std::string> audio_type;
    std::optional<double> created;
    std::optional<std::string> createdBy;
    std::optional<int64_t> creation_type;
    std::optional<std::string> creation_type_string;
    std::optional<double> duration;
    std::optional<std::string> file_path;
    std::optional<int64_t> has_audio;
    std::optional<int64_t> state;
    std::optional<std::string> state_string;
    std::optional<std::string> storage;
    std::optional<int64_t> streamable;
    std::optional<bool> streamable_string;
    std::optional<double> submission_date;
    std::optional<std::string> token;
    std::optional<int64_t> transcoding_duration;
    std::optional<double> updated;
    std::optional<std::string> updatedBy;
    // The JSON member "volatile" (a C++ keyword).
    std::optional<int64_t> volatile_;
};

}  // namespace pelmar
