#pragma once

// LibavLog: sends FFmpeg's own log lines (and libx264's, which FFmpeg's wrapper passes on) to the
// SDK's LogSink on its Library channel, and only when the host has asked for them
// (LogSink::setLibraryLogging); otherwise FFmpeg prints nothing. Every file that includes
// LibavHandles.h installs it before its first FFmpeg call, so no road through FFmpeg writes to
// standard error behind the host's back.
// Ownership: FFmpeg's log callback is process-wide; installing it again does nothing.
// Threads: thread-safe; FFmpeg may log from its worker threads, and each line reaches the sink
//     whole.
// Errors: none.

namespace pelmar::libav {

// Installs the callback (once); returns true.
bool routeLogging();

}  // namespace pelmar::libav
