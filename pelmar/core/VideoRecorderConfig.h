#pragma once

#include <cstdint>
#include <optional>

#include "pelmar/platform/foundation/Json.h"

// VideoRecorderConfig: the camera recorder's options, kept by the facade and copied onto the
// recorder screen when it opens.
// Ownership: reference object held by std::shared_ptr; the facade's setters replace it whole or
//     change one field in place, so holders of an older object see only in-place changes.
// Threads: thread-compatible; the facade changes it on the main thread.
// Errors: none; the full initialiser stores every value unchecked.

namespace pelmar {

class VideoRecorderConfig {
public:
    VideoRecorderConfig() = default;

    VideoRecorderConfig(bool isLiveStreaming,
                        bool blurMode,
                        bool shouldSendImmediately,
                        bool shouldDisableCameraSwitch,
                        bool shouldEnableCoverShot,
                        bool shouldAutoStartRecording,
                        bool shouldShowFaceOutline,
                        int64_t facing,
                        int64_t startDelay,
                        int64_t videoQuality,
                        std::optional<int64_t> maxDuration);

    // One entry per field in declaration order; `maxDuration` is written as null when none.
    Json encode() const;

    bool isLiveStreaming = false;
    bool blurMode = false;
    bool shouldSendImmediately = true;
    bool shouldDisableCameraSwitch = false;
    bool shouldEnableCoverShot = false;
    int64_t startDelay = 3;
    bool shouldAutoStartRecording = true;
    int64_t videoQuality = 0;  // a RecordingQuality raw value
    bool shouldShowFaceOutline = true;
    int64_t facing = 0;  // 1 selects the front camera, anything else the back one
    std::optional<int64_t> maxDuration;
};

}  // namespace pelmar
