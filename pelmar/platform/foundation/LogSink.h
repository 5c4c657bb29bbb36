#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <utility>

// LogSink: where the lines the SDK prints go: its progress and status lines (Console), its
// diagnostics (Log) and, when a host asks for them, FFmpeg's and libx264's own lines. A host sets
// one sink for the whole process with LogSink::set(); the default writes as a command-line
// program would: output lines to standard output, the rest to standard error.
// Ownership: a value; set() keeps a copy until the next set(). A callback sink keeps its function
//     (and what the function holds) alive while it is the current sink and while it is handling
//     a line: after set() returns, a line already under way on another thread may still reach
//     the old callback.
// Threads: thread-safe. Lines may come from any thread; each reaches the sink whole. A callback
//     is called without any lock of the SDK held, possibly from several threads at once, so it
//     must be thread-safe itself; it may log again (the new line simply follows). A line written
//     while set() runs goes to the old sink or to the new one, never to both.
// Errors: failures to write to the standard streams are ignored; a callback must not throw.
//
//   LogSink::set(LogSink::quiet());                          // the SDK prints nothing
//   LogSink::set(LogSink::callback([](LogChannel c, std::string_view line) { ... }));
//   LogSink::setLibraryLogging(true);                        // FFmpeg's lines too

namespace pelmar::foundation {

namespace internal {
struct SinkTarget;
}

enum class LogChannel {
    Output,      // progress and status lines (Console::print); standard output by default
    Diagnostic,  // failures and warnings (Log::write); standard error by default
    Library,     // FFmpeg's and libx264's own lines; standard error, once enabled
};

class LogSink {
public:
    // Receives one line, without its newline.
    using Callback = std::function<void(LogChannel channel, std::string_view line)>;

    // The default: Output lines to standard output, Diagnostic and Library lines to standard
    // error, each followed by a newline and flushed.
    static LogSink standardStreams();

    // Prints nothing.
    static LogSink quiet();

    // Every line to `function`; nothing is printed. An empty function is the quiet sink.
    static LogSink callback(Callback function);

    // Makes `sink` the process's sink; lines written from now on go there.
    static void set(LogSink sink);

    // Whether FFmpeg's and libx264's own lines (version banners, encoder statistics, warnings
    // about odd input, at FFmpeg's "info" level and above) reach the sink on the Library
    // channel. Off by default: the SDK reports the failures it meets itself. FFmpeg's log is
    // one for the whole process: a host that calls FFmpeg itself and wants its own lines printed
    // as FFmpeg prints them calls libav::handBackLogging() (pelmar/platform/libav/LibavLog.h),
    // after which this setting has no effect.
    static void setLibraryLogging(bool enabled);
    static bool libraryLogging();

    // Hands `line` to the current sink on `channel`. Console::print and Log::write call it; so
    // may a host that wants its own lines to go the same way.
    static void write(LogChannel channel, std::string_view line);

private:
    explicit LogSink(std::shared_ptr<const internal::SinkTarget> target)
        : target_(std::move(target)) {}

    std::shared_ptr<const internal::SinkTarget> target_;  // null for the quiet sink
};

}  // namespace pelmar::foundation
