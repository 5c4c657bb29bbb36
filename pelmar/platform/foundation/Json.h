#pragma once

#include <nlohmann/json.hpp>

// Json: the SDK's dynamic value type for string-keyed dictionaries, option maps and service
// answers. It keeps keys in insertion order, which multipart fields and reports rely on.
// Ownership: a plain value type.
// Threads: thread-compatible.
// Errors: nlohmann::json exceptions on type mismatches (callers check types before reading).

namespace pelmar {

using Json = nlohmann::ordered_json;

}  // namespace pelmar
