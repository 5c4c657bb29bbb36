#include "pelmar/platform/ui/DisplayLink.h"

#include <algorithm>
#include <cmath>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/internal/Diagnostics.h"

namespace pelmar::ui {

std::shared_ptr<DisplayLink> DisplayLink::create(Action action) {
    return std::make_shared<DisplayLink>(Private{}, std::move(action));
}

DisplayLink::DisplayLink(Private, Action action) : action_(std::move(action)) {}

DisplayLink::~DisplayLink() {
    if (timer_) {
        timer_->invalidate();
    }
}

void DisplayLink::addToRunLoop(std::string_view mode) {
    internal::assertMainThread("DisplayLink::addToRunLoop");
    modes_.emplace(mode);
    update();
}

void DisplayLink::removeFromRunLoop(std::string_view mode) {
    internal::assertMainThread("DisplayLink::removeFromRunLoop");
    if (auto it = modes_.find(mode); it != modes_.end()) {
        modes_.erase(it);
    }
    update();
}

void DisplayLink::setPaused(bool paused) {
    internal::assertMainThread("DisplayLink::setPaused");
    paused_ = paused;
    update();
}

void DisplayLink::setPreferredFramesPerSecond(int framesPerSecond) {
    preferredFramesPerSecond_ = std::max(framesPerSecond, 0);
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    update();
}

double DisplayLink::duration() const {
    const int screenRate = std::max(Screen::main().maximumFramesPerSecond(), 1);
    const int wanted = preferredFramesPerSecond_ == 0
                               ? screenRate
                               : std::min(preferredFramesPerSecond_, screenRate);
    // A whole number of refreshes between fires.
    const int refreshes =
            std::max(1, static_cast<int>(std::lround(static_cast<double>(screenRate) / wanted)));
    return static_cast<double>(refreshes) / screenRate;
}

void DisplayLink::invalidate() {
    valid_ = false;
    action_ = nullptr;
    update();
}

bool DisplayLink::isRunning() const {
    return valid_ && !paused_ && !modes_.empty();
}

void DisplayLink::update() {
    if (!isRunning()) {
        if (timer_) {
            timer_->invalidate();
            timer_.reset();
        }
        return;
    }
    if (timer_) {
        return;
    }
    std::weak_ptr<DisplayLink> weak = weak_from_this();
    timer_ = dispatch::Timer::scheduled(duration(), true, [weak] {
        if (auto self = weak.lock()) {
            self->fire();
        }
    });
}

void DisplayLink::fire() {
    if (!isRunning() || !action_) {
        return;
    }
    timestamp_ = dispatch::clock().now();
    // The action may pause, invalidate or drop the link; keep both alive for the call.
    auto self = shared_from_this();
    Action action = action_;
    action(*this);
}

}  // namespace pelmar::ui
