#include "pelmar/platform/av/MutableCompositionTrack.h"

#include <string>

#include "pelmar/platform/av/Asset.h"

namespace pelmar::av {

namespace {

AssetTrack::Description compositionDescription(int trackID, TrackMediaType type) {
    AssetTrack::Description d;
    d.trackID = trackID;
    d.mediaType = type;
    d.timeRange = TimeRange::make(media::Time::zero(), media::Time::zero());
    return d;
}

Error insertError(std::string message) {
    return Error{std::string(kAssetErrorDomain), kAssetErrorUnparsable, std::move(message)};
}

}  // namespace

MutableCompositionTrack::MutableCompositionTrack(int trackID, TrackMediaType type)
    : AssetTrack(compositionDescription(trackID, type)) {}

std::optional<Error> MutableCompositionTrack::insertTimeRange(
        const TimeRange& range, const std::shared_ptr<const AssetTrack>& track, media::Time at) {
    if (!track) {
        return insertError("no source track to insert");
    }
    if (track->mediaType() != mediaType()) {
        return insertError(std::string("cannot insert a ") + trackMediaTypeName(track->mediaType())
                           + " track into a " + trackMediaTypeName(mediaType()) + " track");
    }
    if (!range.isValid() || !at.isNumeric() || range.start < media::Time::zero()
        || range.duration <= media::Time::zero() || at < media::Time::zero()) {
        return insertError("the time range to insert is invalid");
    }
    if (range.start >= track->timeRange().end()) {
        return insertError("the time range starts after the end of the source track");
    }
    MutexLock lock(mutex_);
    std::vector<Segment> placed;
    placed.reserve(segments_.size() + 1);
    bool inserted = false;
    for (const Segment& segment : segments_) {
        const media::Time end = segment.at + segment.sourceRange.duration;
        if (end <= at) {
            placed.push_back(segment);
            continue;
        }
        if (segment.at < at) {
            // Split the segment that `at` falls into.
            const media::Time head = at - segment.at;
            placed.push_back({segment.source, {segment.sourceRange.start, head}, segment.at});
            if (!inserted) {
                placed.push_back({track, range, at});
                inserted = true;
            }
            placed.push_back(
                    {segment.source,
                     {segment.sourceRange.start + head, segment.sourceRange.duration - head},
                     at + range.duration});
            continue;
        }
        if (!inserted) {
            placed.push_back({track, range, at});
            inserted = true;
        }
        placed.push_back({segment.source, segment.sourceRange, segment.at + range.duration});
    }
    if (!inserted) {
        placed.push_back({track, range, at});
    }
    segments_ = std::move(placed);
    return std::nullopt;
}

std::vector<MutableCompositionTrack::Segment> MutableCompositionTrack::segments() const {
    MutexLock lock(mutex_);
    return segments_;
}

TimeRange MutableCompositionTrack::timeRange() const {
    MutexLock lock(mutex_);
    media::Time end = media::Time::zero();
    for (const Segment& segment : segments_) {
        const media::Time segmentEnd = segment.at + segment.sourceRange.duration;
        if (end < segmentEnd) {
            end = segmentEnd;
        }
    }
    return TimeRange::make(media::Time::zero(), end);
}

}  // namespace pelmar::av
