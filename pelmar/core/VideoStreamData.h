#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pelmar/core/MediaStreamData.h"
#include "pelmar/platform/foundation/Json.h"

// VideoStreamData: the typed form of the service's JSON description of one stream of a video: the
// fields every media stream has (MediaStreamData) and its own below, each read under its own name
// as its JSON key. Filled and cleared as DataModel says.
// Ownership: a copyable value type; nested models and streams are held by value.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value, and a nested object
//     that is absent or not an object gives a cleared nested model.

namespace pelmar {

class VideoStreamData : public MediaStreamData<VideoStreamData> {
public:
    // Every field holds its cleared value.
    VideoStreamData() { clear(); }

    // Filled from `dict` when given, else cleared.
    explicit VideoStreamData(const std::optional<Json>& dict) { fill(dict); }

    // As DataModel, except that `streamable_string` clears to true (a stream filled from a JSON
    // object without that key holds false).
    void clear() override {
        DataModel::clear();
        streamable_string = true;
    }

    std::optional<std::string> audio_type;
    std::optional<int64_t> default_definitive;
    std::optional<std::string> default_stream_id;
    std::optional<std::string> duration;
    std::optional<std::string> embed_image_url;
    std::optional<int64_t> has_audio;
    std::optional<int64_t> has_image;
    std::optional<int64_t> has_video;
    std::optional<double> image_size;
    std::optional<std::string> image_type;
    std::optional<int64_t> is_image_only;
    std::optional<int64_t> owned;
    std::optional<std::string> type;
    std::optional<int64_t> video_has_audio;
    std::optional<double> video_height;
    std::optional<double> video_size;
    std::optional<std::string> video_sub_type;
    std::optional<std::string> video_token;
    std::optional<std::string> video_type;
    std::optional<double> video_width;

private:
    friend class DataModel<VideoStreamData>;

    template <class Visit>
    void visitFields(Visit&& visit) {
        this->visitSharedFields(visit);
        visit("audio_type", audio_type);
        visit("default_definitive", default_definitive);
        visit("default_stream_id", default_stream_id);
        visit("duration", duration);
        visit("embed_image_url", embed_image_url);
        visit("has_audio", has_audio);
        visit("has_image", has_image);
        visit("has_video", has_video);
        visit("image_size", image_size);
        visit("image_type", image_type);
        visit("is_image_only", is_image_only);
        visit("owned", owned);
        visit("type", type);
        visit("video_has_audio", video_has_audio);
        visit("video_height", video_height);
        visit("video_size", video_size);
        visit("video_sub_type", video_sub_type);
        visit("video_token", video_token);
        visit("video_type", video_type);
        visit("video_width", video_width);
    }
};

}  // namespace pelmar
