#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/AudioStreamData.h"
#include "pelmar/core/MediaResourceData.h"
#include "pelmar/platform/foundation/Json.h"

// AudioData: the typed form of the service's JSON description of one audio: the fields every media
// description has (MediaResourceData) and its own below, each read under its own name as its JSON
// key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class AudioData : public MediaResourceData<AudioData, AudioStreamData> {
public:
    // Every field holds its cleared value.
    AudioData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit AudioData(const std::optional<Json>& dict) { fill(dict); }

    std::optional<std::string> createdBy;
    std::optional<double> duration;
    std::optional<std::string> embed_audio_url;
    std::optional<double> max_duration;
    std::optional<double> min_duration;
    // Read as text like the other string fields; cleared to "".
    std::optional<std::string> moderation_reason;
    std::optional<double> rating;
    std::optional<std::string> state_lower;
    std::optional<std::string> transcript_language;
    std::optional<double> updated;
    std::optional<std::string> updatedBy;
    std::optional<std::string> user_language;

private:
    friend class DataModel<AudioData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        this->visitSharedFields(visit);
        visit("createdBy", createdBy);
        visit("duration", duration);
        visit("embed_audio_url", embed_audio_url);
        visit("max_duration", max_duration);
        visit("min_duration", min_duration);
        visit("moderation_reason", moderation_reason);
        visit("rating", rating);
        visit("state_lower", state_lower);
        visit("transcript_language", transcript_language);
        visit("updated", updated);
        visit("updatedBy", updatedBy);
        visit("user_language", user_language);
    }
};

}  // namespace pelmar
