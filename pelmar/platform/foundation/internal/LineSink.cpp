#include "pelmar/platform/foundation/internal/LineSink.h"

#include <algorithm>

namespace pelmar::foundation::internal {

void LineRecorder::record(std::string_view line) {
    MutexLock lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<std::string> LineRecorder::lines() const {
    MutexLock lock(mutex_);
    return lines_;
}

void LineRecorder::clear() {
    MutexLock lock(mutex_);
    lines_.clear();
}

void LineSink::write(std::string_view line) {
    MutexLock lock(mutex_);
    // One fwrite per line, flushed at once, so lines stay whole next to the host app's own output.
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
    for (const auto& recorder : recorders_) {
        recorder->record(line);
    }
}

void LineSink::attach(const std::shared_ptr<LineRecorder>& recorder) {
    MutexLock lock(mutex_);
    recorders_.push_back(recorder);
}

void LineSink::detach(const std::shared_ptr<LineRecorder>& recorder) {
    MutexLock lock(mutex_);
    recorders_.erase(std::remove(recorders_.begin(), recorders_.end(), recorder), recorders_.end());
}

}  // namespace pelmar::foundation::internal
