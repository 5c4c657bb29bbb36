#include "pelmar/platform/ui/internal/TouchDispatcher.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/GestureRecognizer.h"
#include "pelmar/platform/ui/Window.h"
#include "pelmar/platform/ui/internal/GestureArena.h"

namespace pelmar::ui::internal {

namespace {

// Taps closer than this in time and space count as one multi-tap.
constexpr double kMultiTapSeconds = 0.35;
constexpr double kMultiTapDistance = 20;

double now() {
    return dispatch::clock().now();
}

}  // namespace

TouchDispatcher::TouchDispatcher(std::weak_ptr<Window> window)
    : window_(std::move(window)), arena_(std::make_shared<GestureArena>()) {
    arena_->onCancelTouchesInViews = [this] { cancelControls(); };
}

TouchDispatcher::~TouchDispatcher() = default;

std::optional<std::string> TouchDispatcher::began(std::vector<Touch>& touches) {
    auto window = window_.lock();
    if (!window) {
        return "the window is gone";
    }
    auto top = window->topmostScreenView();
    const double time = now();
    // Every finger must land somewhere eligible before any is tracked.
    std::vector<std::shared_ptr<View>> hits;
    for (const auto& touch : touches) {
        auto hit = window->hitTest(touch.location);
        if (!hit) {
            return "nothing under (" + std::to_string(touch.location.x) + ", "
                   + std::to_string(touch.location.y) + ") takes touches";
        }
        if (top && !hit->isDescendant(*top)) {
            return "the touch landed on " + hit->describe() + ", outside the topmost screen";
        }
        hits.push_back(std::move(hit));
    }
    for (std::size_t i = 0; i < touches.size(); ++i) {
        auto& touch = touches[i];
        const auto& hit = hits[i];
        touch.id = ++lastId_;  // unique while the window lives, whoever sends the touches
        touch.view = hit;
        touch.timestamp = time;
        touch.phase = Touch::Phase::Began;
        const bool near =
                std::hypot(touch.location.x - lastTapPoint_.x, touch.location.y - lastTapPoint_.y)
                <= kMultiTapDistance;
        touch.tapCount = (time - lastTapTime_ <= kMultiTapSeconds && near) ? lastTapCount_ + 1 : 1;

        Tracked tracked;
        for (auto view = hit; view; view = view->superview()) {
            auto control = std::dynamic_pointer_cast<Control>(view);
            const bool stopsHere = control && control->isEnabled();
            for (const auto& r : view->gestureRecognizers()) {
                auto delegate = r->delegate_.lock();
                if (r->isEnabled() && (!delegate || delegate->shouldReceive(*r, touch))) {
                    tracked.recognizers.push_back(r);
                }
            }
            if (stopsHere) {
                tracked.control = control;
                break;
            }
        }
        for (const auto& r : tracked.recognizers) {
            arena_->join(r);
        }
        tracked_[touch.id] = std::move(tracked);
    }
    arena_->setTouchesDown(true);
    deliver(Touch::Phase::Began, touches);
    return std::nullopt;
}

void TouchDispatcher::moved(std::vector<Touch>& touches) {
    deliver(Touch::Phase::Moved, touches);
}

void TouchDispatcher::ended(std::vector<Touch>& touches) {
    deliver(Touch::Phase::Ended, touches);
}

void TouchDispatcher::cancelled(std::vector<Touch>& touches) {
    deliver(Touch::Phase::Cancelled, touches);
}

void TouchDispatcher::deliver(Touch::Phase phase, std::vector<Touch>& touches) {
    const double time = now();
    std::vector<std::shared_ptr<GestureRecognizer>> order;
    std::map<GestureRecognizer*, std::vector<Touch>> byRecognizer;
    std::vector<std::pair<std::shared_ptr<Control>, Touch>> controls;
    for (auto& touch : touches) {
        auto it = tracked_.find(touch.id);
        if (it == tracked_.end()) {
            continue;
        }
        touch.phase = phase;
        touch.timestamp = time;
        for (const auto& r : it->second.recognizers) {
            auto& list = byRecognizer[r.get()];
            if (list.empty()) {
                order.push_back(r);
            }
            list.push_back(touch);
        }
        if (it->second.control) {
            controls.emplace_back(it->second.control, touch);
        }
    }
    for (const auto& r : order) {
        r->deliver(phase, byRecognizer[r.get()]);
    }
    for (auto& [control, touch] : controls) {
        switch (phase) {
            case Touch::Phase::Began:
                control->beginTracking();
                control->trackingBegan(touch);
                break;
            case Touch::Phase::Moved:
                control->trackingMoved(touch);
                break;
            case Touch::Phase::Ended:
                control->endTracking(touch);
                break;
            case Touch::Phase::Cancelled:
                control->cancelTracking();
                break;
            default:
                break;
        }
    }
    if (phase == Touch::Phase::Ended || phase == Touch::Phase::Cancelled) {
        for (const auto& touch : touches) {
            tracked_.erase(touch.id);
            if (phase == Touch::Phase::Ended) {
                lastTapTime_ = time;
                lastTapPoint_ = touch.location;
                lastTapCount_ = touch.tapCount;
            }
        }
        if (tracked_.empty()) {
            arena_->setTouchesDown(false);
        }
    }
}

void TouchDispatcher::cancelControls() {
    for (auto& [id, tracked] : tracked_) {
        if (auto control = std::exchange(tracked.control, nullptr)) {
            control->cancelTracking();
        }
    }
}

}  // namespace pelmar::ui::internal
