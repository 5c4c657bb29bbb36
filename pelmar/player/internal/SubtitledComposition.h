#pragma once

#include <memory>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/av/MutableComposition.h"

// The composition a service video plays as when it has a transcription: its first video and
// first audio track from time zero for the video's duration and, when subtitles are asked for,
// the first text track of the subtitle asset over the same range.
// Threads: thread-safe; loads the assets on the calling thread when nothing has yet (blocking
//     for a remote video).

namespace pelmar::player::internal {

// Null when `video` has no video or no audio track (the plain item plays then). A subtitle asset
// without a text track adds no text track; a failed insertion leaves its track empty.
std::shared_ptr<av::MutableComposition> subtitledComposition(const av::Asset& video,
                                                             const av::Asset* subtitles);

}  // namespace pelmar::player::internal
