#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/Json.h"

// ModelReaders: the two nested-value readers the data models share: a member that is a JSON object,
// and a member that is an array made only of objects.
// Ownership: free functions; no state.
// Threads: thread-safe.
// Errors: none; anything else gives std::nullopt.

namespace pelmar::internal {

// The member `key` of `dict` when both are objects.
inline std::optional<Json> nestedObject(const Json& dict, std::string_view key) {
    if (!dict.is_object()) {
        return std::nullopt;
    }
    const auto it = dict.find(std::string(key));
    if (it == dict.end() || !it->is_object()) {
        return std::nullopt;
    }
    return *it;
}

// The member `key` of `dict` when it is an array whose every element is an object (an array with
// any other element counts as none at all).
inline std::optional<Json> objectList(const Json& dict, std::string_view key) {
    if (!dict.is_object()) {
        return std::nullopt;
    }
    const auto it = dict.find(std::string(key));
    if (it == dict.end() || !it->is_array()) {
        return std::nullopt;
    }
    for (const Json& element : *it) {
        if (!element.is_object()) {
            return std::nullopt;
        }
    }
    return *it;
}

}  // namespace pelmar::internal
