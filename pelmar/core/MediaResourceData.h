#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/DataModel.h"
#include "pelmar/core/DeviceInfoData.h"

// MediaResourceData<Self, Stream>: the fields a video, an audio and an image description share,
// with the same names and readers in all three, over the stream model `Stream` of the kind.
// Ownership: the base of a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none (see DataModel).

namespace pelmar {

template <class Self, class Stream>
class MediaResourceData : public DataModel<Self> {
public:
    std::optional<double> created;
    std::optional<Stream> default_stream;
    std::optional<DeviceInfoData> device_info;
    std::optional<Stream> original_stream;
    std::optional<int64_t> state;
    std::optional<std::string> state_string;
    std::optional<double> stream_submission_date;
    std::vector<Stream> streams;
    std::optional<double> submission_date;
    std::optional<int64_t> submitted;
    std::vector<std::string> tags;
    std::optional<std::string> title;
    std::optional<std::string> token;
    std::optional<std::string> type;
    // The JSON member "volatile" (a C++ keyword).
    std::optional<int64_t> volatile_;

protected:
    template <class Visit>
    void visitSharedFields(Visit&& visit) {
        visit("created", created);
        visit("default_stream", default_stream);
        visit("device_info", device_info);
        visit("original_stream", original_stream);
        visit("state", state);
        visit("state_string", state_string);
        visit("stream_submission_date", stream_submission_date);
        visit("streams", streams);
        visit("submission_date", submission_date);
        visit("submitted", submitted);
        visit("tags", tags);
        visit("title", title);
        visit("token", token);
        visit("type", type);
        visit("volatile", volatile_);
    }
};

}  // namespace pelmar
