#pragma once

#include <cstdint>
#include <string>

#include "pelmar/platform/av/TimeRange.h"
#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/Size.h"

// AssetTrack: one track of an asset as its container describes it: media type, codec, natural
// size and preferred transform (video), sample rate and channels (audio), frame rate, and the
// track's time range in the asset.
// Ownership: made by the asset that owns it and shared as shared_ptr<const AssetTrack>; it keeps
//     the source's URL (so a composition can find its media) but not the asset.
// Threads: thread-safe (immutable once made; a MutableCompositionTrack is guarded by its own lock).
// Errors: none.

namespace pelmar::av {

// The kind of media a track holds (capture uses media::MediaType, which has no text).
enum class TrackMediaType { Video, Audio, Text };

// "video", "audio" or "text".
const char* trackMediaTypeName(TrackMediaType type);

class AssetTrack {
public:
    static constexpr int kInvalidTrackID = 0;

    struct Description {
        int trackID = kInvalidTrackID;
        TrackMediaType mediaType = TrackMediaType::Video;
        std::string codec;  // libavcodec's name, for example "h264", "aac", "webvtt"
        ui::Size naturalSize;
        ui::AffineTransform preferredTransform;
        double nominalFrameRate = 0;
        int sampleRate = 0;
        int channels = 0;
        TimeRange timeRange;
        // The URL or path the track's media comes from, and its stream in that source.
        std::string sourceURL;
        int streamIndex = -1;
    };

    explicit AssetTrack(Description description) : d_(std::move(description)) {}

    virtual ~AssetTrack() = default;

    int trackID() const { return d_.trackID; }

    TrackMediaType mediaType() const { return d_.mediaType; }

    const std::string& codec() const { return d_.codec; }

    // Pixels before the preferred transform; zero for tracks that are not video.
    ui::Size naturalSize() const { return d_.naturalSize; }

    // The turn a player applies to show the picture upright (from the container's display
    // matrix, multiples of 90 degrees).
    const ui::AffineTransform& preferredTransform() const { return d_.preferredTransform; }

    double nominalFrameRate() const { return d_.nominalFrameRate; }

    int sampleRate() const { return d_.sampleRate; }

    int channels() const { return d_.channels; }

    virtual TimeRange timeRange() const { return d_.timeRange; }

    const std::string& sourceURL() const { return d_.sourceURL; }

    int streamIndex() const { return d_.streamIndex; }

protected:
    const Description& description() const { return d_; }

private:
    Description d_;
};

}  // namespace pelmar::av
