#include "pelmar/core/VideoStreamData.h"

#include "pelmar/core/JsonReaders.h"

namespace pelmar {

VideoStreamData::VideoStreamData() {
    clear();
}

VideoStreamData::VideoStreamData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void VideoStreamData::setInfo(const Json& dict) {
    audio_type = getStringValue(dict, "audio_type");
    created = getDoubleValue(dict, "created");
    creation_type = getIntValue(dict, "creation_type");
    creation_type_string = getStringValue(dict, "creation_type_string");
    default_definitive = getIntValue(dict, "default_definitive");
    default_stream_id = getStringValue(dict, "default_stream_id");
    duration = getStringValue(dict, "duration");
    embed_image_url = getStringValue(dict, "embed_image_url");
    has_audio = getIntValue(dict, "has_audio");
    has_image = getIntValue(dict, "has_image");
    has_video = getIntValue(dict, "has_video");
    image_size = getDoubleValue(dict, "image_size");
    image_type = getStringValue(dict, "image_type");
    is_image_only = getIntValue(dict, "is_image_only");
    owned = getIntValue(dict, "owned");
    state = getIntValue(dict, "state");
    state_string = getStringValue(dict, "state_string");
    streamable = getIntValue(dict, "streamable");
    streamable_string = getBoolValue(dict, "streamable_string");
    token = getStringValue(dict, "token");
    type = getStringValue(dict, "type");
    video_has_audio = getIntValue(dict, "video_has_audio");
    video_height = getDoubleValue(dict, "video_height");
    video_size = getDoubleValue(dict, "video_size");
    video_sub_type = getStringValue(dict, "video_sub_type");
    video_token = getStringValue(dict, "video_token");
    video_type = getStringValue(dict, "video_type");
    video_width = getDoubleValue(dict, "video_width");
    volatile_ = getIntValue(dict, "volatile");
}

void VideoStreamData::clear() {
    audio_type = std::string();
    created = 0.0;
    creation_type = int64_t{0};
    creation_type_string = std::string();
    default_definitive = int64_t{0};
    default_stream_id = std::string();
    duration = std::string();
    embed_image_url = std::string();
    has_audio = int64_t{0};
    has_image = int64_t{0};
    has_video = int64_t{0};
    image_size = 0.0;
    image_type = std::string();
    is_image_only = int64_t{0};
    owned = int64_t{0};
    state = int64_t{0};
    state_string = std::string();
    streamable = int64_t{0};
    streamable_string = true;
    token = std::string();
    type = std::string();
    video_has_audio = int64_t{0};
    video_height = 0.0;
    video_size = 0.0;
    video_sub_type = std::string();
    video_token = std::string();
    video_type = std::string();
    video_width = 0.0;
    volatile_ = int64_t{0};
}

}  // namespace pelmar
