#pragma once

#include "pelmar/core/ButtonConfig.h"

// PelmarRecorderInterfaceConfig: the looks of the recorder's record, close and camera-flip buttons.
// Ownership: plain value; each object holds its own three `ButtonConfig`s.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar {

struct PelmarRecorderInterfaceConfig {
    ButtonConfig recordButton;
    ButtonConfig closeButton;
    ButtonConfig cameraFlipButton;
};

}  // namespace pelmar
