#pragma once

#include <string_view>

#include "pelmar/platform/foundation/LogCapture.h"
#include "pelmar/platform/foundation/LogSink.h"

// Log: the SDK's diagnostic lines (failures and warnings). They go to the process's LogSink on
// its Diagnostic channel: standard error unless the host app has set another sink.
// Ownership: static; a Capture records lines only while it is alive.
// Threads: thread-safe; a line reaches the sink whole, never interleaved with another.
// Errors: write failures are ignored.

namespace pelmar::foundation {

class Log {
public:
    Log() = delete;

    // Hands `line` (without a newline) to the sink, and to every live Capture.
    static void write(std::string_view line);

    // Records every line written through Log (from any thread) while it is alive, whatever the
    // sink does with them.
    class Capture : public LogCapture {
    public:
        Capture() : LogCapture(LogChannel::Diagnostic) {}
    };
};

}  // namespace pelmar::foundation
