#pragma once

#include <string_view>

#include "pelmar/platform/foundation/LogCapture.h"
#include "pelmar/platform/foundation/LogSink.h"

// Console: the progress and status lines the SDK prints (the file utilities' messages, the RTMP
// client's steps, for example). They go to the process's LogSink on its Output channel: standard
// output unless the host app has set another sink.
// Ownership: static; a Capture records lines only while it is alive.
// Threads: thread-safe; a line reaches the sink whole, never interleaved with another.
// Errors: write failures are ignored.

namespace pelmar::foundation {

class Console {
public:
    Console() = delete;

    // Hands `line` (without a newline) to the sink, and to every live Capture.
    static void print(std::string_view line);

    // Records every line written through Console (from any thread) while it is alive, whatever
    // the sink does with them.
    class Capture : public LogCapture {
    public:
        Capture() : LogCapture(LogChannel::Output) {}
    };
};

}  // namespace pelmar::foundation
