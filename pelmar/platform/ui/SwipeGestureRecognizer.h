#pragma once

#include "pelmar/platform/ui/GestureRecognizer.h"

namespace pelmar::ui {

// SwipeGestureRecognizer: a discrete recogniser for a quick stroke in one of its directions: the
// finger must travel kMinimumDistance points along it, no more than half as far across it, within
// kMaximumDuration seconds on the clock.
// Ownership, Threads: as GestureRecognizer.
// Errors: none.
class SwipeGestureRecognizer : public GestureRecognizer {
public:
    // A bit mask; the raw values are the system's own.
    enum Direction : int { Right = 1, Left = 2, Up = 4, Down = 8 };

    static constexpr double kMinimumDistance = 50;
    static constexpr double kMaximumDuration = 0.5;

    using GestureRecognizer::GestureRecognizer;

    int direction() const { return direction_; }

    void setDirection(int directions) { direction_ = directions; }

protected:
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;

    bool isDiscrete() const override { return true; }

private:
    // The direction the stroke so far goes in, or 0.
    int stroke(const Touch& touch) const;

    int direction_ = Right;
    Point start_;
    double startTime_ = 0;
};

}  // namespace pelmar::ui
