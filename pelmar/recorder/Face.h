#pragma once

#include <cstdint>

#include "pelmar/platform/ui/Rect.h"

namespace pelmar {

// Face: one face the outline view draws: where it is, how opaque its outline still is, and how
// many redraws are left before it is forgotten.
// Ownership: reference object held by FaceOutlineView's dictionary.
// Threads: main thread only.
// Errors: none.
class Face {
public:
    static constexpr int kVisibleRedraws = 25;

    double alpha = 1.0;
    int64_t faceID = 0;
    ui::Rect rect;
    int faceVisible = kVisibleRedraws;
};

}  // namespace pelmar
