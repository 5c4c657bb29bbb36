#pragma once

#include <optional>
#include <string>

#include "pelmar/platform/foundation/Json.h"

// ContentModel: one video, audio or image as the service operations hand it to the host app: key,
// title, description, state text, token, the service's "created" number and duration.
// Ownership: a copyable value type.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped member gives "" or 0.

namespace pelmar {

class ContentModel {
public:
    // Every field holds its cleared value ("" or 0).
    ContentModel();

    // Filled from `dict` when given, else cleared.
    explicit ContentModel(const std::optional<Json>& dict);

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    void setInfo(const Json& dict);

    void clear();

    // Read from the JSON keys "key", "title", "description" (`desc`), "state_string"
    // (`stateString`), "token", "created" (`date`, the number as sent, not converted) and
    // "duration". Every field is set after construction; the host app may overwrite or reset any of
    // them.
    std::optional<std::string> key;
    std::optional<std::string> title;
    std::optional<std::string> desc;
    std::optional<std::string> stateString;
    std::optional<std::string> token;
    std::optional<double> date;
    std::optional<double> duration;
};

}  // namespace pelmar
