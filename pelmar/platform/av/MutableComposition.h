#pragma once

#include <memory>
#include <vector>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/av/MutableCompositionTrack.h"

// MutableComposition: an asset assembled from time ranges of other assets' tracks, as a model for
// the player: its duration is the end of its longest track. It is always loaded.
// Ownership: made by create() and held by shared_ptr; owns its tracks.
// Threads: thread-safe.
// Errors: see MutableCompositionTrack::insertTimeRange().

namespace pelmar::av {

class MutableComposition final : public Asset {
public:
    static std::shared_ptr<MutableComposition> create();

    // A new empty track; `preferredTrackID` is used when no track has it, otherwise (and for
    // kInvalidTrackID) the next free ID is chosen.
    std::shared_ptr<MutableCompositionTrack> addMutableTrack(
            TrackMediaType type, int preferredTrackID = AssetTrack::kInvalidTrackID);

    std::vector<std::shared_ptr<MutableCompositionTrack>> compositionTracks() const;

    // The end of the longest track, as the tracks stand now.
    media::Time duration() const override;

    Tracks tracks() const override;
    using Asset::tracks;

protected:
    LoadResult load(const std::function<bool()>& cancelled) const override;

private:
    struct Key {};

public:
    explicit MutableComposition(Key) { markLoaded({}); }

private:
    mutable Mutex mutex_;
    std::vector<std::shared_ptr<MutableCompositionTrack>> tracks_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
