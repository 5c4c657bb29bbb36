#include "pelmar/core/AudioStreamData.h"

#include "pelmar/core/JsonReaders.h"

namespace pelmar {

AudioStreamData::AudioStreamData() {
    clear();
}

AudioStreamData::AudioStreamData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void AudioStreamData::setInfo(const Json& dict) {
    audio_size = getDoubleValue(dict, "audio_size");
    audio_token = getStringValue(dict, "audio_token");
    audio_type = getStringValue(dict, "audio_type");
    created = getDoubleValue(dict, "created");
    createdBy = getStringValue(dict, "createdBy");
    creation_type = getIntValue(dict, "creation_type");
    creation_type_string = getStringValue(dict, "creation_type_string");
    duration = getDoubleValue(dict, "duration");
    file_path = getStringValue(dict, "file_path");
    has_audio = getIntValue(dict, "has_audio");
    state = getIntValue(dict, "state");
    state_string = getStringValue(dict, "state_string");
    storage = getStringValue(dict, "storage");
    streamable = getIntValue(dict, "streamable");
    streamable_string = getBoolValue(dict, "streamable_string");
    submission_date = getDoubleValue(dict, "submission_date");
    token = getStringValue(dict, "token");
    transcoding_duration = getIntValue(dict, "transcoding_duration");
    updated = getDoubleValue(dict, "updated");
    updatedBy = getStringValue(dict, "updatedBy");
    volatile_ = getIntValue(dict, "volatile");
}

void AudioStreamData::clear() {
    audio_size = 0.0;
    audio_token = std::string();
    audio_type = std::string();
    created = 0.0;
    createdBy = std::string();
    creation_type = int64_t{0};
    creation_type_string = std::string();
    duration = 0.0;
    file_path = std::string();
    has_audio = int64_t{0};
    state = int64_t{0};
    state_string = std::string();
    storage = std::string();
    streamable = int64_t{0};
    streamable_string = false;
    submission_date = 0.0;
    token = std::string();
    transcoding_duration = int64_t{0};
    updated = 0.0;
    updatedBy = std::string();
    volatile_ = int64_t{0};
}

}  // namespace pelmar
