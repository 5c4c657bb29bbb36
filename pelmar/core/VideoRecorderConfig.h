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

    // What the recorder screen does with each field when record() opens it:
    // Not read by the SDK: kept for the host app.
    bool isLiveStreaming = false;
    // Starts the recorder with its background blur on.
    bool blurMode = false;
    // Not read by the SDK: kept for the host app.
    bool shouldSendImmediately = true;
    // True hides the recorder's camera-switch button.
    bool shouldDisableCameraSwitch = false;
    // Becomes the recorder's cover-selector switch.
    bool shouldEnableCoverShot = false;
    // The countdown before a recording starts, in seconds; 0 or less starts at once.
    int64_t startDelay = 3;
    // Not read by the SDK: kept for the host app. The recorder never starts a recording by
    // itself; the user's record tap (or the host's start call on the custom recorder) does.
    bool shouldAutoStartRecording = true;
    // Not read by the SDK: kept for the host app. Holds a RecordingQuality raw value; the
    // recorder always records at its own size.
    int64_t videoQuality = 0;
    // Shows or hides the recorder's face outlines (faces are reported either way).
    bool shouldShowFaceOutline = true;
    // 1 selects the front camera, anything else the back one.
    int64_t facing = 0;
    // The longest recording in seconds; none keeps the recorder's own limit.
    std::optional<int64_t> maxDuration;
};

}  // namespace pelmar
