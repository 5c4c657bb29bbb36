#include "pelmar/core/DeviceInfoData.h"

#include "pelmar/core/JsonReaders.h"

namespace pelmar {

DeviceInfoData::DeviceInfoData() {
    clear();
}

DeviceInfoData::DeviceInfoData(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void DeviceInfoData::setInfo(const Json& dict) {
    api_version = getIntValue(dict, "api_version");
    browser = getStringValue(dict, "browser");
    capture_type = getStringValue(dict, "capture_type");
    device = getStringValue(dict, "device");
    embed_code = getStringValue(dict, "embed_code");
    location = getStringValue(dict, "location");
    media_source = getStringValue(dict, "media_source");
    os = getStringValue(dict, "os");
    userAgent = getStringValue(dict, "userAgent");
    version = getIntValue(dict, "version");
}

void DeviceInfoData::clear() {
    api_version = int64_t{0};
    browser = std::string();
    capture_type = std::string();
    device = std::string();
    embed_code = std::string();
    location = std::string();
    media_source = std::string();
    os = std::string();
    userAgent = std::string();
    version = int64_t{0};
}

}  // namespace pelmar
