#include "testing/ServiceTypes.h"

#include <algorithm>
#include <cctype>

namespace pelmar::test {

std::string_view roleName(Role role) {
    switch (role) {
        case Role::Api:
            return "api";
        case Role::CdnApi:
            return "cdn-api";
        case Role::DevApi:
            return "dev-api";
        case Role::FileServer:
            return "file-server";
        case Role::Storage:
            return "storage";
    }
    return "unknown";
}

std::string_view mediaKindName(MediaKind kind) {
    switch (kind) {
        case MediaKind::Video:
            return "video";
        case MediaKind::Audio:
            return "audio";
        case MediaKind::Image:
            return "image";
    }
    return "unknown";
}

const std::string* findField(const FieldList& fields, std::string_view name, bool ignoreCase) {
    const auto same = [&](const std::string& key) {
        if (!ignoreCase) {
            return key == name;
        }
        return key.size() == name.size()
               && std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a))
                             == std::tolower(static_cast<unsigned char>(b));
                  });
    };
    for (const auto& [key, value] : fields) {
        if (same(key)) {
            return &value;
        }
    }
    return nullptr;
}

}  // namespace pelmar::test
