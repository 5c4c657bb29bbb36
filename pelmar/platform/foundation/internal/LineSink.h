#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"

// LineSink: writes whole lines to a C stream and hands copies to the recorders attached to it; the
// shared engine behind Log (stderr) and Console (stdout).
// Ownership: one static sink per stream; recorders are shared with the capture objects that made
//     them.
// Threads: thread-safe; lines from different threads never interleave.
// Errors: write failures on the stream are ignored (there is nowhere left to report them).

namespace pelmar::foundation::internal {

class LineRecorder {
public:
    void record(std::string_view line);
    std::vector<std::string> lines() const;
    void clear();

private:
    mutable Mutex mutex_;
    std::vector<std::string> lines_ PELMAR_GUARDED_BY(mutex_);
};

class LineSink {
public:
    explicit LineSink(std::FILE* stream) : stream_(stream) {}

    void write(std::string_view line);
    void attach(const std::shared_ptr<LineRecorder>& recorder);
    void detach(const std::shared_ptr<LineRecorder>& recorder);

private:
    std::FILE* stream_;
    Mutex mutex_;
    std::vector<std::shared_ptr<LineRecorder>> recorders_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::foundation::internal
