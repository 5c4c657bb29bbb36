#include "pelmar/picker/internal/Animations.h"

namespace pelmar::picker::internal {

namespace {

// Main thread only, like every view.
bool gAnimationsEnabled = true;

}  // namespace

bool animationsEnabled() {
    return gAnimationsEnabled;
}

void performWithoutAnimation(const std::function<void()>& work) {
    const bool previous = gAnimationsEnabled;
    gAnimationsEnabled = false;
    work();
    gAnimationsEnabled = previous;
}

}  // namespace pelmar::picker::internal
