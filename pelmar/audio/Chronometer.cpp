#include "pelmar/audio/Chronometer.h"

#include <algorithm>

#include "pelmar/platform/dispatch/Timer.h"

namespace pelmar {

Chronometer::~Chronometer() {
    invalidate();
}

void Chronometer::schedule() {
    invalidate();
    std::weak_ptr<Chronometer> weak = weak_from_this();
    timer_ = dispatch::Timer::scheduled(std::max(timeInterval_, kMinimumInterval), true, [weak] {
        if (auto self = weak.lock()) {
            self->timerDidTrigger();
        }
    });
}

void Chronometer::invalidate() {
    if (timer_) {
        timer_->invalidate();
    }
}

void Chronometer::start(bool /*shouldFire*/) {
    schedule();
    timerDidTrigger();
    isPlaying_ = true;
}

void Chronometer::pause() {
    invalidate();
    isPlaying_ = false;
}

void Chronometer::resume() {
    schedule();
    timerDidTrigger();
    isPlaying_ = true;
}

void Chronometer::stop() {
    isPlaying_ = false;
    invalidate();
    timer_.reset();
    value_ = 0;
    if (timerDidComplete) {
        timerDidComplete();
    }
}

void Chronometer::timerDidTrigger() {
    if (timerDidUpdate) {
        // A copy: the callback may replace or clear itself.
        auto update = timerDidUpdate;
        update(value_);
    }
    value_ += timeInterval_;
}

}  // namespace pelmar
