#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Vocabulary shared by the service emulator, its request log and its tests: the five addresses it
// serves, the three media kinds and the ordered name/value lists of queries, forms and headers.

namespace pelmar::test {

using Json = nlohmann::ordered_json;

// Name/value pairs in the order they were received; names may repeat.
using FieldList = std::vector<std::pair<std::string, std::string>>;

// The five bases of the hosting service, each served on its own loopback address.
enum class Role {
    Api,         // API base, 127.0.0.1
    CdnApi,      // CDN API base (video files, video images), 127.0.0.2
    DevApi,      // regional API base, paths under "/embed", 127.0.0.3
    FileServer,  // media file server (audio and image files), 127.0.0.4
    Storage,     // storage host receiving the multipart uploads, 127.0.0.5
};

inline constexpr Role kAllRoles[] = {Role::Api, Role::CdnApi, Role::DevApi, Role::FileServer,
                                     Role::Storage};

enum class MediaKind { Video, Audio, Image };

// "api", "cdn-api", "dev-api", "file-server", "storage".
std::string_view roleName(Role role);

// "video", "audio", "image".
std::string_view mediaKindName(MediaKind kind);

// First value stored under `name` (compared without regard to ASCII case when `ignoreCase`).
const std::string* findField(const FieldList& fields,
                             std::string_view name,
                             bool ignoreCase = false);

}  // namespace pelmar::test
