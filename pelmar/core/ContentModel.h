#pragma once

#include <optional>
#include <string>

#include "pelmar/core/DataModel.h"
#include "pelmar/platform/foundation/Json.h"

// ContentModel: one video, audio or image as the service operations hand it to the host app: key,
// title, description, state text, token, the service's "created" number and duration. Filled and
// cleared as DataModel says.
// Ownership: a copyable value type.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped member gives "" or 0.

namespace pelmar {

class ContentModel : public DataModel<ContentModel> {
public:
    // Every field holds its cleared value ("" or 0).
    ContentModel() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit ContentModel(const std::optional<Json>& dict) { fill(dict); }

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

private:
    friend class DataModel<ContentModel>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        visit("key", key);
        visit("title", title);
        visit("description", desc);
        visit("state_string", stateString);
        visit("token", token);
        visit("created", date);
        visit("duration", duration);
    }
};

}  // namespace pelmar
