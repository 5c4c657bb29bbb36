#include "pelmar/platform/ui/GestureRecognizer.h"

#include <algorithm>

#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/internal/GestureArena.h"

namespace pelmar::ui {

using State = GestureRecognizer::State;

namespace {

bool isFinal(State s) {
    return s == State::Ended || s == State::Cancelled || s == State::Failed;
}

bool isUnderWay(State s) {
    return s == State::Began || s == State::Changed;
}

}  // namespace

GestureRecognizer::GestureRecognizer(Action action) {
    addAction(std::move(action));
}

GestureRecognizer::~GestureRecognizer() = default;

void GestureRecognizer::addAction(Action action) {
    if (action) {
        actions_.push_back(std::move(action));
    }
}

void GestureRecognizer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled && isUnderWay(state_)) {
        setState(State::Cancelled);
    } else if (!enabled && state_ == State::Possible && arena_.lock()) {
        setState(State::Failed);
    }
}

void GestureRecognizer::requireToFail(const std::shared_ptr<GestureRecognizer>& other) {
    if (other && other.get() != this) {
        failureRequirements_.push_back(other);
    }
}

Point GestureRecognizer::location(const View* view) const {
    if (touches_.empty()) {
        return {};
    }
    Point sum;
    for (const auto& touch : touches_) {
        const Point p = touch.locationIn(view);
        sum.x += p.x;
        sum.y += p.y;
    }
    const auto n = static_cast<double>(touches_.size());
    return {sum.x / n, sum.y / n};
}

Point GestureRecognizer::location() const {
    auto v = view_.lock();
    return location(v.get());
}

bool GestureRecognizer::requiresFailureOf(const GestureRecognizer& other) const {
    return std::any_of(failureRequirements_.begin(), failureRequirements_.end(),
                       [&](const auto& weak) { return weak.lock().get() == &other; });
}

bool GestureRecognizer::mayBegin() {
    if (!enabled_) {
        return false;
    }
    if (auto delegate = delegate_.lock()) {
        if (!delegate->gestureRecognizerShouldBegin(*this)) {
            return false;
        }
    }
    auto arena = arena_.lock();
    return !arena || !arena->blocks(*this);
}

void GestureRecognizer::setState(State state) {
    auto keep = shared_from_this();
    const bool starting = state_ == State::Possible
                          && (state == State::Began || (state == State::Ended && isDiscrete()));
    if (!starting) {
        if (state == State::Ended && state_ == State::Possible) {
            state = State::Failed;  // a continuous gesture that never began cannot end
        }
        enter(state);
        return;
    }
    if (!mayBegin()) {
        enter(State::Failed);
        return;
    }
    auto arena = arena_.lock();
    for (const auto& weak : failureRequirements_) {
        auto required = weak.lock();
        if (!required || !arena || !arena->contains(*required)) {
            continue;  // it never saw these touches: it counts as failed
        }
        if (required->state_ == State::Possible) {
            pending_ = state;
            return;
        }
        if (required->state_ != State::Failed) {
            enter(State::Failed);
            return;
        }
    }
    pending_.reset();
    enter(state);
}

void GestureRecognizer::enter(State state) {
    auto keep = shared_from_this();
    const State old = state_;
    if (old == state && state != State::Changed) {
        return;
    }
    state_ = state;
    if (state == State::Failed) {
        pending_.reset();
    }
    auto arena = arena_.lock();
    if (old == State::Possible && (state == State::Began || state == State::Ended) && arena) {
        arena->recognized(*this);
    }
    if (state != State::Failed && state != State::Possible) {
        runActions();
    }
    if (state == State::Failed && arena) {
        arena->failed(*this);
    }
    if (isFinal(state) && arena) {
        arena->finishIfDone();
    }
}

void GestureRecognizer::runActions() {
    const auto actions = actions_;  // an action may add another
    for (const auto& action : actions) {
        action(*this);
    }
}

void GestureRecognizer::touchesCancelled(const std::vector<Touch>& /*touches*/) {
    if (isUnderWay(state_)) {
        setState(State::Cancelled);
    } else if (state_ == State::Possible) {
        setState(State::Failed);
    }
}

void GestureRecognizer::resetToPossible() {
    state_ = State::Possible;
    pending_.reset();
    touches_.clear();
    arena_.reset();
    ++generation_;
    reset();
}

void GestureRecognizer::deliver(Touch::Phase phase, const std::vector<Touch>& touches) {
    if (isFinal(state_) || pending_) {
        return;
    }
    // Keep the current set of touches for location(): replace known ones, add new, drop lifted.
    for (const auto& touch : touches) {
        auto it = std::find_if(touches_.begin(), touches_.end(),
                               [&](const Touch& t) { return t.id == touch.id; });
        if (it == touches_.end()) {
            touches_.push_back(touch);
        } else {
            *it = touch;
        }
    }
    switch (phase) {
        case Touch::Phase::Began:
            touchesBegan(touches);
            break;
        case Touch::Phase::Moved:
        case Touch::Phase::Stationary:
            touchesMoved(touches);
            break;
        case Touch::Phase::Ended:
            touchesEnded(touches);
            break;
        case Touch::Phase::Cancelled:
            touchesCancelled(touches);
            break;
    }
    if (phase == Touch::Phase::Ended || phase == Touch::Phase::Cancelled) {
        // Lifted fingers stop counting, but the last position stays readable in the action
        // that just ran; drop them now.
        touches_.erase(std::remove_if(touches_.begin(), touches_.end(),
                                      [&](const Touch& t) {
                                          return std::any_of(
                                                  touches.begin(), touches.end(),
                                                  [&](const Touch& u) { return u.id == t.id; });
                                      }),
                       touches_.end());
    }
}

namespace internal {

void GestureArena::join(const std::shared_ptr<GestureRecognizer>& recognizer) {
    if (contains(*recognizer)) {
        return;
    }
    members_.push_back(recognizer);
    recognizer->arena_ = weak_from_this();
}

bool GestureArena::contains(const GestureRecognizer& recognizer) const {
    return std::any_of(members_.begin(), members_.end(),
                       [&](const auto& m) { return m.get() == &recognizer; });
}

bool GestureArena::simultaneous(GestureRecognizer& a, GestureRecognizer& b) {
    auto da = a.delegate_.lock();
    auto db = b.delegate_.lock();
    return (da && da->shouldRecognizeSimultaneously(a, b))
           || (db && db->shouldRecognizeSimultaneously(b, a));
}

bool GestureArena::blocks(GestureRecognizer& r) const {
    return std::any_of(members_.begin(), members_.end(), [&](const auto& m) {
        return m.get() != &r && isUnderWay(m->state_) && !simultaneous(r, *m);
    });
}

void GestureArena::recognized(GestureRecognizer& r) {
    const auto members = members_;
    for (const auto& m : members) {
        if (m.get() == &r || m->state_ != State::Possible || simultaneous(r, *m)) {
            continue;
        }
        // One that waits for r to fail loses too.
        m->pending_.reset();
        m->enter(State::Failed);
    }
    if (r.cancelsTouchesInView_ && onCancelTouchesInViews) {
        onCancelTouchesInViews();
    }
}

void GestureArena::failed(GestureRecognizer& r) {
    const auto members = members_;
    for (const auto& m : members) {
        if (m->pending_ && m->requiresFailureOf(r)) {
            const State wanted = *m->pending_;
            m->pending_.reset();
            m->setState(wanted);
        }
    }
}

void GestureArena::setTouchesDown(bool down) {
    touchesDown_ = down;
    if (!down) {
        finishIfDone();
    }
}

void GestureArena::finishIfDone() {
    if (touchesDown_ || members_.empty()) {
        return;
    }
    if (!std::all_of(members_.begin(), members_.end(),
                     [](const auto& m) { return isFinal(m->state_); })) {
        return;
    }
    auto members = std::move(members_);
    members_.clear();
    for (const auto& m : members) {
        m->resetToPossible();
    }
}

}  // namespace internal

}  // namespace pelmar::ui
