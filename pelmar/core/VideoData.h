#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/MediaResourceData.h"
#include "pelmar/core/VideoStreamData.h"
#include "pelmar/platform/foundation/Json.h"

// VideoData: the typed form of the service's JSON description of one video: the fields every media
// description has (MediaResourceData) and its own below, each read under its own name as its JSON
// key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class VideoData : public MediaResourceData<VideoData, VideoStreamData> {
public:
    // Every field holds its cleared value.
    VideoData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit VideoData(const std::optional<Json>& dict) { fill(dict); }

    std::optional<std::string> data;
    std::optional<std::string> default_image_selector;
    std::optional<int64_t> delete_old_streams;
    std::optional<std::string> duration;
    std::optional<std::string> embed_image_url;
    std::optional<std::string> embed_video_url;
    std::optional<int64_t> enforce_duration;
    std::optional<std::string> expiration_days;
    std::optional<int64_t> only_audio;
    std::optional<int64_t> owned;
    std::optional<std::string> transcript_language;
    std::optional<std::string> user_language;
    std::optional<std::string> video_file_name;
    std::optional<std::string> video_profile;
    std::optional<std::string> video_source;

private:
    friend class DataModel<VideoData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        this->visitSharedFields(visit);
        visit("data", data);
        visit("default_image_selector", default_image_selector);
        visit("delete_old_streams", delete_old_streams);
        visit("duration", duration);
        visit("embed_image_url", embed_image_url);
        visit("embed_video_url", embed_video_url);
        visit("enforce_duration", enforce_duration);
        visit("expiration_days", expiration_days);
        visit("only_audio", only_audio);
        visit("owned", owned);
        visit("transcript_language", transcript_language);
        visit("user_language", user_language);
        visit("video_file_name", video_file_name);
        visit("video_profile", video_profile);
        visit("video_source", video_source);
    }
};

}  // namespace pelmar
