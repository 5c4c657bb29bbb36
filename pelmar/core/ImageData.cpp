#include "pelmar/core/ImageData.h"

#include "pelmar/core/JsonReaders.h"
#include "pelmar/core/internal/ModelReaders.h"

namespace pelmar {

using internal::nestedObject;
using internal::objectList;

ImageData::ImageData() {
    clear();
}

ImageData::ImageData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void ImageData::setInfo(const Json& dict) {
    approved = getStringValue(dict, "approved");
    created = getDoubleValue(dict, "created");
    data = getStringValue(dict, "data");
    default_stream = ImageStreamData(nestedObject(dict, "default_stream"));
    device_info = DeviceInfoData(nestedObject(dict, "device_info"));
    embed_image_url = getStringValue(dict, "embed_image_url");
    image_file_name = getStringValue(dict, "image_file_name");
    image_source = getStringValue(dict, "image_source");
    original_stream = ImageStreamData(nestedObject(dict, "original_stream"));
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
    type = getStringValue(dict, "type");
    updated = getDoubleValue(dict, "updated");
    user_language = getIntValue(dict, "user_language");
    volatile_ = getIntValue(dict, "volatile");
}

void ImageData::clear() {
    approved = std::string();
    created = 0.0;
    data = std::string();
    default_stream = ImageStreamData();
    device_info = DeviceInfoData();
    embed_image_url = std::string();
    image_file_name = std::string();
    image_source = std::string();
    original_stream = ImageStreamData();
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
    type = std::string();
    updated = 0.0;
    user_language = int64_t{0};
    volatile_ = int64_t{0};
}

}  // namespace pelmar
