#pragma once

#include "pelmar/platform/av/CaptureTypes.h"
#include "pelmar/platform/photos/PhotosTypes.h"

namespace pelmar {

// CapturePermissions: what the user has answered (or will answer) when a screen asks for the
// camera, the microphone or the photo library. A host running without a person at the screen
// sets these before it opens a screen that records or saves; a camera or microphone request that
// is not answered yet waits for answerAfter() seconds, a photo library one is answered at once.
// Ownership: a view onto the process-wide capture environment and photo library; holds nothing.
// Threads: main thread only.
// Errors: none.
class CapturePermissions {
public:
    CapturePermissions& grant(av::MediaType media);

    CapturePermissions& deny(av::MediaType media);

    CapturePermissions& restrict(av::MediaType media);

    // Not asked yet; a request is answered `granted`.
    CapturePermissions& ask(av::MediaType media, bool granted);

    // Camera and microphone request answers arrive this many seconds later on the installed
    // clock.
    CapturePermissions& answerAfter(double seconds);

    // The photo library (read by the picker, written by the trim editor's save): its status
    // now, or not asked yet with the answer the user gives on the first request or save.
    CapturePermissions& photoLibrary(photos::AuthorizationStatus status);

    CapturePermissions& askPhotoLibrary(photos::AuthorizationStatus answer);
};

}  // namespace pelmar
