#include "pelmar/platform/ui/PinchGestureRecognizer.h"

#include <cmath>

namespace pelmar::ui {

double PinchGestureRecognizer::distance() const {
    const auto& t = touches();
    if (t.size() < 2) {
        return 0;
    }
    return std::hypot(t[1].location.x - t[0].location.x, t[1].location.y - t[0].location.y);
}

void PinchGestureRecognizer::setScale(double scale) {
    const double d = distance();
    if (scale > 0 && d > 0) {
        startDistance_ = d / scale;
        scale_ = scale;
    }
}

void PinchGestureRecognizer::touchesBegan(const std::vector<Touch>& /*touches*/) {
    if (numberOfTouches() == 2 && state() == State::Possible) {
        startDistance_ = distance();
    }
}

void PinchGestureRecognizer::touchesMoved(const std::vector<Touch>& /*touches*/) {
    if (numberOfTouches() < 2 || startDistance_ <= 0) {
        return;
    }
    const double d = distance();
    scale_ = d / startDistance_;
    if (state() == State::Possible) {
        if (std::abs(d - startDistance_) > kHysteresis) {
            setState(State::Began);
        }
        return;
    }
    setState(State::Changed);
}

void PinchGestureRecognizer::touchesEnded(const std::vector<Touch>& /*touches*/) {
    setState(state() == State::Possible ? State::Failed : State::Ended);
}

void PinchGestureRecognizer::reset() {
    startDistance_ = 0;
    scale_ = 1;
}

}  // namespace pelmar::ui
