#pragma once

#include <functional>

namespace pelmar::picker::internal {

// Whether view animations run; cell configuration turns them off for its duration.
bool animationsEnabled();

// Runs `work` with animations off, restoring the previous setting after.
void performWithoutAnimation(const std::function<void()>& work);

}  // namespace pelmar::picker::internal
