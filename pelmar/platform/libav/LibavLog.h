#pragma once

// LibavLog: sends FFmpeg's own log lines (and libx264's, which FFmpeg's wrapper passes on) to the
// SDK's LogSink on its Library channel, and only when the host has asked for them
// (LogSink::setLibraryLogging); otherwise FFmpeg prints nothing. Every file that includes
// LibavHandles.h installs it before its first FFmpeg call, so no road through FFmpeg writes to
// standard error behind the host's back.
// FFmpeg has one log for the whole process, so linking the SDK also takes over the lines of a host
// that calls FFmpeg itself; such a host calls handBackLogging() to have FFmpeg's own log back.
// Ownership: FFmpeg's log callback is process-wide; installing it again does nothing.
// Threads: thread-safe; FFmpeg may log from its worker threads, and each line reaches the sink
//     whole.
// Errors: none.

namespace pelmar::libav {

// Installs the callback (once), unless the log has been handed back; returns true.
bool routeLogging();

// Gives FFmpeg's log back to FFmpeg: its default callback (standard error, filtered by
// av_log_set_level) is in place again, and the level the SDK set is undone unless the host has
// changed it since. From then on every FFmpeg line, the host's and those of the SDK's own
// encoders alike, goes wherever FFmpeg's settings send it; LogSink::setLibraryLogging no longer
// has any effect, and nothing in the SDK takes the log again. A host that installs its own
// callback with av_log_set_callback() after the SDK has been loaded needs no call. May be called
// at any time, from any thread; a second call does nothing.
void handBackLogging();

}  // namespace pelmar::libav
