#include "pelmar/core/VideoData.h"

#include "pelmar/core/JsonReaders.h"
#include "pelmar/core/internal/ModelReaders.h"

namespace pelmar {

using internal::nestedObject;
using internal::objectList;

VideoData::VideoData() {
    clear();
}

VideoData::VideoData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void VideoData::setInfo(const Json& dict) {
    created = getDoubleValue(dict, "created");
    data = getStringValue(dict, "data");
    default_image_selector = getStringValue(dict, "default_image_selector");
    default_stream = VideoStreamData(nestedObject(dict, "default_stream"));
    delete_old_streams = getIntValue(dict, "delete_old_streams");
    device_info = DeviceInfoData(nestedObject(dict, "device_info"));
    duration = getStringValue(dict, "duration");
    embed_image_url = getStringValue(dict, "embed_image_url");
    embed_video_url = getStringValue(dict, "embed_video_url");
    enforce_duration = getIntValue(dict, "enforce_duration");
    expiration_days = getStringValue(dict, "expiration_days");
    only_audio = getIntValue(dict, "only_audio");
    original_stream = VideoStreamData(nestedObject(dict, "original_stream"));
    owned = getIntValue(dict, "owned");
    state = getIntValue(dict, "state");
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
    user_language = getStringValue(dict, "user_language");
    video_file_name = getStringValue(dict, "video_file_name");
    video_profile = getStringValue(dict, "video_profile");
    video_source = getStringValue(dict, "video_source");
    volatile_ = getIntValue(dict, "volatile");
}

void VideoData::clear() {
    created = 0.0;
    data = std::string();
    default_image_selector = std::string();
    default_stream = VideoStreamData();
    delete_old_streams = int64_t{0};
    device_info = DeviceInfoData();
    duration = std::string();
    embed_image_url = std::string();
    embed_video_url = std::string();
    enforce_duration = int64_t{0};
    expiration_days = std::string();
    only_audio = int64_t{0};
    original_stream = VideoStreamData();
    owned = int64_t{0};
    state = int64_t{0};
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
    user_language = std::string();
    video_file_name = std::string();
    video_profile = std::string();
    video_source = std::string();
    volatile_ = int64_t{0};
}

}  // namespace pelmar
