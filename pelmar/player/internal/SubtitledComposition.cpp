#include "pelmar/player/internal/SubtitledComposition.h"

#include "pelmar/platform/av/TimeRange.h"

namespace pelmar::player::internal {

std::shared_ptr<av::MutableComposition> subtitledComposition(const av::Asset& video,
                                                             const av::Asset* subtitles) {
    const auto videoTracks = video.tracks(av::TrackMediaType::Video);
    const auto audioTracks = video.tracks(av::TrackMediaType::Audio);
    if (videoTracks.empty() || audioTracks.empty()) {
        return nullptr;
    }
    const auto range = av::TimeRange::make(media::Time::zero(), video.duration());
    auto composition = av::MutableComposition::create();
    const auto insert = [&](av::TrackMediaType type,
                            const std::shared_ptr<const av::AssetTrack>& source) {
        // A failed insertion leaves the track as it was; the rest still plays.
        (void)composition->addMutableTrack(type)->insertTimeRange(range, source,
                                                                  media::Time::zero());
    };
    insert(av::TrackMediaType::Video, videoTracks.front());
    insert(av::TrackMediaType::Audio, audioTracks.front());
    if (subtitles) {
        const auto textTracks = subtitles->tracks(av::TrackMediaType::Text);
        if (!textTracks.empty()) {
            insert(av::TrackMediaType::Text, textTracks.front());
        }
    }
    return composition;
}

}  // namespace pelmar::player::internal
