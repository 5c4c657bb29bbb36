#include "pelmar/platform/av/MutableComposition.h"

#include <algorithm>

namespace pelmar::av {

std::shared_ptr<MutableComposition> MutableComposition::create() {
    return std::make_shared<MutableComposition>(Key{});
}

std::shared_ptr<MutableCompositionTrack> MutableComposition::addMutableTrack(TrackMediaType type,
                                                                             int preferredTrackID) {
    MutexLock lock(mutex_);
    std::vector<int> used;
    for (const auto& track : tracks_) {
        used.push_back(track->trackID());
    }
    const auto taken = [&used](int id) {
        return std::find(used.begin(), used.end(), id) != used.end();
    };
    int id = preferredTrackID;
    if (id <= AssetTrack::kInvalidTrackID || taken(id)) {
        id = 1;
        while (taken(id)) {
            ++id;
        }
    }
    auto track = std::make_shared<MutableCompositionTrack>(id, type);
    tracks_.push_back(track);
    return track;
}

std::vector<std::shared_ptr<MutableCompositionTrack>> MutableComposition::compositionTracks()
        const {
    MutexLock lock(mutex_);
    return tracks_;
}

media::Time MutableComposition::duration() const {
    media::Time longest = media::Time::zero();
    for (const auto& track : compositionTracks()) {
        const media::Time end = track->timeRange().end();
        if (longest < end) {
            longest = end;
        }
    }
    return longest;
}

Asset::Tracks MutableComposition::tracks() const {
    const auto own = compositionTracks();
    return Tracks(own.begin(), own.end());
}

// The contents are read afresh by duration() and tracks(); there is nothing to load.
Asset::LoadResult MutableComposition::load(const std::function<bool()>&) const {
    return {};
}

}  // namespace pelmar::av
