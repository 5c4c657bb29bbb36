#pragma once

// The interface files of the custom recorder and its preview: "CustomVideoRecorder" and
// "CustomVideoPlayer". Threads: thread-safe; registers once per process.

namespace pelmar::recorder::internal {

void registerCustomNibs();

}  // namespace pelmar::recorder::internal
