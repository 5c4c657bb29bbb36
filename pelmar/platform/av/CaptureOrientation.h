#pragma once

#include "pelmar/platform/av/CaptureTypes.h"

// CaptureOrientation: the video orientation that shows the camera's picture upright in the
// interface as it stands, for camera screens turning their previews and outputs.
// Threads: main thread only (reads the application's interface orientation).
// Errors: none.

namespace pelmar::av {

// The video orientation matching the interface's (portrait for an unknown one).
VideoOrientation interfaceVideoOrientation();

}  // namespace pelmar::av
