#include "pelmar/platform/av/internal/FrameQueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace pelmar::av::internal {

namespace {

// Times closer than this are one time: the player's nanosecond clock against a stream's ticks.
constexpr double kSameTime = 1e-4;

// A time this far past the newest frame decoded is reached by a seek when a key frame lies
// between; nearer ones are decoded forward.
constexpr double kSeekAheadSeconds = 1.0;

}  // namespace

void FrameQueue::setMaximumSize(int maxWidth, int maxHeight) {
    MutexLock lock(mutex_);
    maxWidth_ = std::max(0, maxWidth);
    maxHeight_ = std::max(0, maxHeight);
}

bool FrameQueue::failed() const {
    MutexLock lock(mutex_);
    return failed_;
}

void FrameQueue::seek(double seconds) {
    if (!std::isfinite(seconds)) {
        seconds = 0;
    }
    MutexLock lock(mutex_);
    wanted_ = std::max(0.0, seconds);
    seekLocked(wanted_);
}

void FrameQueue::seekLocked(double seconds) {
    ++serial_;
    seekedTo_ = seconds;
    seekPending_ = true;
    queue_.clear();
    ended_ = false;
    // Heading there: only a time further on makes another seek.
    decodedUpTo_ = seconds;
    changed_.notifyAll();
}

bool FrameQueue::settleLocked(double seconds) {
    while (queue_.size() > 1 && queue_[1]->start <= seconds + kSameTime) {
        queue_.pop_front();
    }
    if (queue_.empty()) {
        return false;
    }
    const Picture& front = *queue_.front();
    const bool firstReached = front.first && seconds + kSameTime >= seekedTo_;
    if (front.start > seconds + kSameTime && !firstReached) {
        return false;
    }
    // Shows until the next picture, to the end after the last one, or for one frame's time.
    return queue_.size() > 1 || ended_ || seconds + kSameTime < front.start + frameSeconds_
           || front.start > seconds + kSameTime;
}

std::shared_ptr<const FrameQueue::Picture> FrameQueue::pictureAt(double seconds,
                                                                 double waitSeconds) {
    if (!std::isfinite(seconds)) {
        seconds = 0;
    }
    MutexLock lock(mutex_);
    if (seconds != wanted_) {
        wanted_ = seconds;
        changed_.notifyAll();
    }
    bool ready = settleLocked(seconds);
    if (!ready && waitSeconds > 0) {
        const auto deadline = std::chrono::steady_clock::now()
                              + std::chrono::duration<double>(std::min(waitSeconds, 3600.0));
        while (!(ready = settleLocked(seconds)) && !failed_ && !stopped_
               && !(ended_ && queue_.empty())) {
            if (!changed_.waitUntil(mutex_, deadline)) {
                ready = settleLocked(seconds);
                break;
            }
        }
    }
    if (ready) {
        shown_ = queue_.front();
    } else if (!queue_.empty() && (!shown_ || shown_->serial != serial_)) {
        // Nothing of the latest seek shown yet: its nearest picture rather than an older one.
        shown_ = queue_.front();
    }
    // The decoder may have room for more now.
    changed_.notifyAll();
    return shown_;
}

FrameQueue::Work FrameQueue::awaitWork(Held held,
                                       bool finished,
                                       const std::function<double(double)>& keyFrameAtOrBefore) {
    MutexLock lock(mutex_);
    while (!stopped_) {
        if (seekPending_) {
            seekPending_ = false;
            return {Work::Kind::Seek, serial_, seekedTo_, maxWidth_, maxHeight_};
        }
        const double wanted = wanted_;
        // What is kept starts at the queue's front, or at the held frame.
        const bool queued = !queue_.empty();
        const double kept = queued ? queue_.front()->start : held.start;
        const bool keptFirst = queued ? queue_.front()->first : held.first;
        // Before the time the serial started from, or before what is kept with more of the movie
        // lying before it: the time went back.
        const bool behind = wanted + kSameTime < seekedTo_
                            || (kept >= 0 && wanted + kSameTime < kept && !keptFirst);
        bool farAhead = false;
        if (!behind && wanted > decodedUpTo_ + kSeekAheadSeconds && keyFrameAtOrBefore) {
            farAhead = keyFrameAtOrBefore(wanted) > decodedUpTo_ + kSameTime;
        }
        if (behind || farAhead) {
            seekLocked(wanted);
            seekPending_ = false;
            return {Work::Kind::Seek, serial_, wanted, maxWidth_, maxHeight_};
        }
        int ahead = 0;
        for (const auto& picture : queue_) {
            ahead += picture->start > wanted + kSameTime ? 1 : 0;
        }
        if (!finished && ahead < kFramesAhead) {
            return {Work::Kind::Decode, serial_, 0, maxWidth_, maxHeight_};
        }
        changed_.wait(mutex_);
    }
    return {};
}

bool FrameQueue::wouldShow(uint64_t serial, Held held, const double* nextStart) const {
    MutexLock lock(mutex_);
    if (serial != serial_ || held.start < 0) {
        return false;
    }
    // The last frame shows to the end; one whose successor already shows at the time asked for
    // never would, unless nothing has been shown at all yet.
    return nextStart == nullptr || *nextStart > wanted_ + kSameTime || (queue_.empty() && !shown_);
}

void FrameQueue::push(std::shared_ptr<const Picture> picture) {
    MutexLock lock(mutex_);
    if (!picture || picture->serial != serial_) {
        return;
    }
    queue_.push_back(std::move(picture));
    changed_.notifyAll();
}

void FrameQueue::decoded(uint64_t serial, double start) {
    MutexLock lock(mutex_);
    if (serial == serial_) {
        decodedUpTo_ = start;
        changed_.notifyAll();
    }
}

void FrameQueue::ended(uint64_t serial) {
    MutexLock lock(mutex_);
    if (serial == serial_) {
        ended_ = true;
        changed_.notifyAll();
    }
}

void FrameQueue::fail() {
    MutexLock lock(mutex_);
    failed_ = true;
    changed_.notifyAll();
}

void FrameQueue::setFrameSeconds(double seconds) {
    MutexLock lock(mutex_);
    frameSeconds_ = std::max(0.0, seconds);
}

void FrameQueue::stop() {
    MutexLock lock(mutex_);
    stopped_ = true;
    changed_.notifyAll();
}

}  // namespace pelmar::av::internal
