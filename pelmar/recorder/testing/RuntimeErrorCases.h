#pragma once

#include <vector>

#include "pelmar/platform/av/CaptureDevice.h"

namespace pelmar::test {

// RuntimeErrorCase: a capture session's runtime error, whether the session had started before
// it, and whether a camera screen must have the session running again afterwards.
struct RuntimeErrorCase {
    const char* name;
    bool startFails;
    long code;
    bool runningAfter;
};

// The cases every camera screen is checked against: only a media-services reset of a session
// that was running restarts it. Threads: thread-safe (constant).
inline const std::vector<RuntimeErrorCase>& runtimeErrorCases() {
    static const std::vector<RuntimeErrorCase> cases = {
            {"reset while running", false, av::kCaptureErrorMediaServicesWereReset, true},
            {"other error", false, -11800, false},
            {"reset of a session that never ran", true, av::kCaptureErrorMediaServicesWereReset,
             false},
    };
    return cases;
}

}  // namespace pelmar::test
