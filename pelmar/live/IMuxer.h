#pragma once

#include "pelmar/live/IMultiTrackReceiver.h"
#include "pelmar/live/MediaDescriptor.h"

// IMuxer: a multi-track stage to which tracks are added before their frames arrive.
// Ownership: as IMultiTrackReceiver.
// Threads: thread-compatible.
// Errors: AddTrackImpl decides which descriptors it refuses and how.

namespace pelmar::live {

template <typename T>
class IMuxer : public IMultiTrackReceiver<T> {
public:
    // The id of the new track.
    unsigned AddTrack(MediaDescriptor descriptor) { return AddTrackImpl(descriptor); }

protected:
    virtual unsigned AddTrackImpl(MediaDescriptor descriptor) = 0;
};

}  // namespace pelmar::live
