#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pelmar/core/MediaStreamData.h"
#include "pelmar/platform/foundation/Json.h"

// AudioStreamData: the typed form of the service's JSON description of one stream of an audio: the
// fields every media stream has (MediaStreamData) and its own below, each read under its own name
// as its JSON key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class AudioStreamData : public MediaStreamData<AudioStreamData> {
public:
    // Every field holds its cleared value.
    AudioStreamData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit AudioStreamData(const std::optional<Json>& dict) { fill(dict); }

    std::optional<double> audio_size;
    std::optional<std::string> audio_token;
    std::optional<std::string> audio_type;
    std::optional<std::string> createdBy;
    std::optional<double> duration;
    std::optional<std::string> file_path;
    std::optional<int64_t> has_audio;
    std::optional<std::string> storage;
    std::optional<double> submission_date;
    std::optional<int64_t> transcoding_duration;
    std::optional<double> updated;
    std::optional<std::string> updatedBy;

private:
    friend class DataModel<AudioStreamData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        this->visitSharedFields(visit);
        visit("audio_size", audio_size);
        visit("audio_token", audio_token);
        visit("audio_type", audio_type);
        visit("createdBy", createdBy);
        visit("duration", duration);
        visit("file_path", file_path);
        visit("has_audio", has_audio);
        visit("storage", storage);
        visit("submission_date", submission_date);
        visit("transcoding_duration", transcoding_duration);
        visit("updated", updated);
        visit("updatedBy", updatedBy);
    }
};

}  // namespace pelmar
