#include "pelmar/platform/foundation/internal/LineSink.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace pelmar::foundation::internal {

void LineRecorder::record(std::string_view line) {
    MutexLock lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<std::string> LineRecorder::lines() const {
    MutexLock lock(mutex_);
    return lines_;
}

bool LineRecorder::contains(std::string_view text) const {
    MutexLock lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

void LineRecorder::clear() {
    MutexLock lock(mutex_);
    lines_.clear();
}

LineSink& LineSink::instance() {
    static auto* sink = new LineSink();
    return *sink;
}

LineSink::LineSink() : target_(std::make_shared<const SinkTarget>()) {}

void LineSink::write(LogChannel channel, std::string_view line) {
    std::shared_ptr<const SinkTarget> target;
    {
        MutexLock lock(mutex_);
        target = target_;
        for (const auto& attached : recorders_) {
            if (attached.channel == channel) {
                attached.recorder->record(line);
            }
        }
    }
    if (!target) {
        return;
    }
    if (target->callback) {
        target->callback(channel, line);
        return;
    }
    std::FILE* stream = channel == LogChannel::Output ? stdout : stderr;
    // One write per line, flushed at once, so lines stay whole next to the host app's own output.
    std::string text(line);
    text += '\n';
    ::flockfile(stream);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
    ::funlockfile(stream);
}

void LineSink::setTarget(std::shared_ptr<const SinkTarget> target) {
    // The old sink (and what its callback holds) goes after the lock is released.
    std::shared_ptr<const SinkTarget> previous;
    {
        MutexLock lock(mutex_);
        previous = std::exchange(target_, std::move(target));
    }
}

void LineSink::attach(LogChannel channel, const std::shared_ptr<LineRecorder>& recorder) {
    MutexLock lock(mutex_);
    recorders_.push_back({channel, recorder});
}

void LineSink::detach(const std::shared_ptr<LineRecorder>& recorder) {
    MutexLock lock(mutex_);
    std::erase_if(recorders_,
                  [&](const Attached& attached) { return attached.recorder == recorder; });
}

}  // namespace pelmar::foundation::internal
