#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pelmar/core/DataModel.h"

// MediaStreamData<Self>: the fields a stream of a video, of an audio and of an image share, with
// the same names and readers in all three.
// Ownership: the base of a copyable value type.
// Threads: thread-compatible.
// Errors: none (see DataModel).

namespace pelmar {

template <class Self>
class MediaStreamData : public DataModel<Self> {
public:
    std::optional<double> created;
    std::optional<int64_t> creation_type;
    std::optional<std::string> creation_type_string;
    std::optional<int64_t> state;
    std::optional<std::string> state_string;
    std::optional<int64_t> streamable;
    std::optional<bool> streamable_string;
    std::optional<std::string> token;
    // The JSON member "volatile" (a C++ keyword).
    std::optional<int64_t> volatile_;

protected:
    template <class Visit>
    void visitSharedFields(Visit&& visit) {
        visit("created", created);
        visit("creation_type", creation_type);
        visit("creation_type_string", creation_type_string);
        visit("state", state);
        visit("state_string", state_string);
        visit("streamable", streamable);
        visit("streamable_string", streamable_string);
        visit("token", token);
        visit("volatile", volatile_);
    }
};

}  // namespace pelmar
