#include "pelmar/core/ContentModel.h"

#include "pelmar/core/JsonReaders.h"

namespace pelmar {

ContentModel::ContentModel() {
    clear();
}

ContentModel::ContentModel(const std::optional<Json>& dict) {
    if (dict) {
        setInfo(*dict);
    } else {
        clear();
    }
}

void ContentModel::setInfo(const Json& dict) {
    key = getStringValue(dict, "key");
    title = getStringValue(dict, "title");
    desc = getStringValue(dict, "description");
    stateString = getStringValue(dict, "state_string");
    token = getStringValue(dict, "token");
    date = getDoubleValue(dict, "created");
    duration = getDoubleValue(dict, "duration");
}

void ContentModel::clear() {
    key = std::string();
    title = std::string();
    desc = std::string();
    stateString = std::string();
    token = std::string();
    date = 0.0;
    duration = 0.0;
}

}  // namespace pelmar
