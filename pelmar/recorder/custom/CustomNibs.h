#pragma once

// The interface files of the custom recorder and its preview: "CustomVideoRecorder" and
// "CustomVideoPlayer". Threads: thread-safe; registers once per process.

namespace pelmar::internal {

void registerCustomNibs();

}  // namespace pelmar::internal
