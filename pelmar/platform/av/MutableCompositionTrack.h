#pragma once

#include <optional>
#include <vector>

#include "pelmar/platform/av/AssetTrack.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/sync/Mutex.h"

// MutableCompositionTrack: a track of a MutableComposition: an ordered list of segments, each a
// time range of a source track placed at a time of the composition. It is a model that a player
// reads; nothing is decoded or copied.
// Ownership: made by MutableComposition::addMutableTrack() and shared with it; a segment keeps its
//     source track (not the source asset) alive.
// Threads: thread-safe (one lock of its own, a leaf).
// Errors: insertTimeRange() returns an Error in kAssetErrorDomain with kAssetErrorUnparsable
//     when the range is invalid, empty or starts past the source track, or when the source track
//     is of another media type; the track is then unchanged.

namespace pelmar::av {

class MutableCompositionTrack final : public AssetTrack {
public:
    struct Segment {
        std::shared_ptr<const AssetTrack> source;
        TimeRange sourceRange;
        media::Time at;  // where the segment starts in the composition
    };

    MutableCompositionTrack(int trackID, TrackMediaType type);

    // Places `range` of `track` at `at`, pushing later segments back by its duration. A range
    // running past the end of the source is kept as given (players show the last frame).
    [[nodiscard]] std::optional<Error> insertTimeRange(
            const TimeRange& range, const std::shared_ptr<const AssetTrack>& track, media::Time at);

    std::vector<Segment> segments() const;

    // From zero to the end of the last segment.
    TimeRange timeRange() const override;

private:
    mutable Mutex mutex_;
    std::vector<Segment> segments_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
