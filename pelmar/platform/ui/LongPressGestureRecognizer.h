#pragma once

#include "pelmar/platform/ui/GestureRecognizer.h"

namespace pelmar::ui {

// LongPressGestureRecognizer: a continuous recogniser that begins once a finger has stayed down
// minimumPressDuration seconds on the clock within allowableMovement points, changes as it moves
// and ends when it lifts. Lifting or moving too far before that fails it.
// Ownership, Threads: as GestureRecognizer.
// Errors: none.
class LongPressGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;

    double minimumPressDuration() const { return minimumPressDuration_; }

    void setMinimumPressDuration(double seconds) { minimumPressDuration_ = seconds; }

    double allowableMovement() const { return allowableMovement_; }

    void setAllowableMovement(double points) { allowableMovement_ = points; }

protected:
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;

    void reset() override { ++timer_; }

private:
    double minimumPressDuration_ = 0.5;
    double allowableMovement_ = 10;
    unsigned timer_ = 0;
    Point start_;
};

}  // namespace pelmar::ui
