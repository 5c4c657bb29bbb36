#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/LogSink.h"
#include "pelmar/platform/sync/Mutex.h"

// LineSink: the one router behind LogSink, Console and Log: hands each line to the process's
// current sink and copies it to the recorders attached for its channel (the Capture objects of
// tests).
// Ownership: one instance for the process, never destroyed, so lines written from static
//     destructors still have somewhere to go; recorders are shared with the captures that made
//     them.
// Threads: thread-safe. mutex_ guards the current sink and the recorders and is released before
//     the sink is called; a line to a standard stream is written under that stream's own lock,
//     so lines of different threads never interleave.
// Errors: write failures on the streams are ignored (there is nowhere left to report them).

namespace pelmar::foundation::internal {

// What a LogSink does: an empty callback means the standard streams.
struct SinkTarget {
    LogSink::Callback callback;
};

class LineRecorder {
public:
    void record(std::string_view line);
    std::vector<std::string> lines() const;
    // True when some recorded line contains `text`.
    bool contains(std::string_view text) const;
    void clear();

private:
    mutable Mutex mutex_;
    std::vector<std::string> lines_ PELMAR_GUARDED_BY(mutex_);
};

class LineSink {
public:
    static LineSink& instance();

    void write(LogChannel channel, std::string_view line);

    void setTarget(std::shared_ptr<const SinkTarget> target);

    void attach(LogChannel channel, const std::shared_ptr<LineRecorder>& recorder);
    void detach(const std::shared_ptr<LineRecorder>& recorder);

    void setLibraryLogging(bool enabled) { libraryLogging_.store(enabled); }

    bool libraryLogging() const { return libraryLogging_.load(); }

private:
    LineSink();

    struct Attached {
        LogChannel channel;
        std::shared_ptr<LineRecorder> recorder;
    };

    Mutex mutex_;
    std::shared_ptr<const SinkTarget> target_ PELMAR_GUARDED_BY(mutex_);  // null: quiet
    std::vector<Attached> recorders_ PELMAR_GUARDED_BY(mutex_);
    std::atomic<bool> libraryLogging_{false};
};

}  // namespace pelmar::foundation::internal
