#include "pelmar/core/ImageStreamData.h"

#include "pelmar/core/JsonReaders.h"

namespace pelmar {

ImageStreamData::ImageStreamData() {
    clear();
}

ImageStreamData::ImageStreamData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void ImageStreamData::setInfo(const Json& dict) {
    created = getDoubleValue(dict, "created");
    creation_type = getIntValue(dict, "creation_type");
    creation_type_string = getStringValue(dict, "creation_type_string");
    file_path = getStringValue(dict, "file_path");
    image_file_id = getStringValue(dict, "image_file_id");
    image_height = getDoubleValue(dict, "image_height");
    image_size = getDoubleValue(dict, "image_size");
    image_token = getStringValue(dict, "image_token");
    image_type = getStringValue(dict, "image_type");
    image_width = getDoubleValue(dict, "image_width");
    rotation = getDoubleValue(dict, "rotation");
    state = getIntValue(dict, "state");
    state_string = getStringValue(dict, "state_string");
    storage = getStringValue(dict, "storage");
    streamable = getIntValue(dict, "streamable");
    streamable_string = getBoolValue(dict, "streamable_string");
    submission_date = getDoubleValue(dict, "submission_date");
    token = getStringValue(dict, "token");
    transcoding_duration = getDoubleValue(dict, "transcoding_duration");
    updated = getDoubleValue(dict, "updated");
    volatile_ = getIntValue(dict, "volatile");
}

void ImageStreamData::clear() {
    created = 0.0;
    creation_type = int64_t{0};
    creation_type_string = std::string();
    file_path = std::string();
    image_file_id = std::string();
    image_height = 0.0;
    image_size = 0.0;
    image_token = std::string();
    image_type = std::string();
    image_width = 0.0;
    rotation = 0.0;
    state = int64_t{0};
    state_string = std::string();
    storage = std::string();
    streamable = int64_t{0};
    streamable_string = false;
    submission_date = 0.0;
    token = std::string();
    transcoding_duration = 0.0;
    updated = 0.0;
    volatile_ = int64_t{0};
}

}  // namespace pelmar
