#include "pelmar/core/AudioData.h"

#include "pelmar/core/JsonReaders.h"
#include "pelmar/core/internal/ModelReaders.h"

namespace pelmar {

using internal::nestedObject;
using internal::objectList;

AudioData::AudioData() {
    clear();
}

AudioData::AudioData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void AudioData::setInfo(const Json& dict) {
    created = getDoubleValue(dict, "created");
    createdBy = getStringValue(dict, "createdBy");
    default_stream = AudioStreamData(nestedObject(dict, "default_stream"));
    device_info = DeviceInfoData(nestedObject(dict, "device_info"));
    duration = getDoubleValue(dict, "duration");
    embed_audio_url = getStringValue(dict, "embed_audio_url");
    max_duration = getDoubleValue(dict, "max_duration");
    min_duration = getDoubleValue(dict, "min_duration");
    moderation_reason = getStringValue(dict, "moderation_reason");
    original_stream = AudioStreamData(nestedObject(dict, "original_stream"));
    rating = getDoubleValue(dict, "rating");
    state = getIntValue(dict, "state");
    state_lower = getStringValue(dict, "state_lower");
    state_string = getStringValue(dict, "state_string");
    stream_submission_date = getDoubleValue(dict, "stream_submission_date");
    streams.clear();
    if (const auto elements = objectList(dict, "streams")) {
        for (const Json& element : *elements) {
            streams.emplace_back(element);
        }
    }
    submission_date = getDoubleValue(dict, "submission_date");
    submitted = getIntValue(dict, "submitted");
    tags = getStringArrayValue(dict, "tags");
    title = getStringValue(dict, "title");
    token = getStringValue(dict, "token");
    transcript_language = getStringValue(dict, "transcript_language");
    type = getStringValue(dict, "type");
    updated = getDoubleValue(dict, "updated");
    updatedBy = getStringValue(dict, "updatedBy");
    user_language = getStringValue(dict, "user_language");
    volatile_ = getIntValue(dict, "volatile");
}

void AudioData::clear() {
    created = 0.0;
    createdBy = std::string();
    default_stream = AudioStreamData();
    device_info = DeviceInfoData();
    duration = 0.0;
    embed_audio_url = std::string();
    max_duration = 0.0;
    min_duration = 0.0;
    moderation_reason = std::string();
    original_stream = AudioStreamData();
    rating = 0.0;
    state = int64_t{0};
    state_lower = std::string();
    state_string = std::string();
    stream_submission_date = 0.0;
    streams.clear();
    submission_date = 0.0;
    submitted = int64_t{0};
    tags = std::vector<std::string>();
    title = std::string();
    token = std::string();
    transcript_language = std::string();
    type = std::string();
    updated = 0.0;
    updatedBy = std::string();
    user_language = std::string();
    volatile_ = int64_t{0};
}

}  // namespace pelmar
