#pragma once

#include "pelmar/platform/av/CaptureTypes.h"

namespace pelmar {

// CapturePermissions: what the user has answered (or will answer) when a screen asks for the
// camera or the microphone. A host running without a person at the screen sets these before it
// opens a camera screen; a request that is not answered yet waits for answerAfter() seconds.
// Ownership: a view onto the process-wide capture environment; holds nothing.
// Threads: main thread only.
// Errors: none.
class CapturePermissions {
public:
    CapturePermissions& grant(av::MediaType media);

    CapturePermissions& deny(av::MediaType media);

    CapturePermissions& restrict(av::MediaType media);

    // Not asked yet; a request is answered `granted`.
    CapturePermissions& ask(av::MediaType media, bool granted);

    // Request answers arrive this many seconds later on the installed clock.
    CapturePermissions& answerAfter(double seconds);
};

}  // namespace pelmar
