#pragma once

#include "pelmar/platform/ui/GestureRecognizer.h"

namespace pelmar::ui {

// PanGestureRecognizer: a continuous recogniser for fingers dragged more than kHysteresis points.
// translation() is how far the touches' centroid moved since the gesture began (a target may set
// it back to zero to read increments); velocity() is points per second between the last two
// events, by the clock's timestamps.
// Ownership, Threads: as GestureRecognizer.
// Errors: none; two events at the same time keep the previous velocity.
class PanGestureRecognizer : public GestureRecognizer {
public:
    static constexpr double kHysteresis = 10;

    using GestureRecognizer::GestureRecognizer;

    // In the coordinates of `view` (null: the attached view's); only the transform and scale of
    // the views matter for a vector.
    Point translation(const View* view = nullptr) const;

    void setTranslation(Point translation, const View* view = nullptr);

    Point velocity(const View* view = nullptr) const;

    int minimumNumberOfTouches() const { return minimumTouches_; }

    void setMinimumNumberOfTouches(int n) { minimumTouches_ = n; }

protected:
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;
    void reset() override;

private:
    Point centroid() const;
    Point toView(Point windowVector, const View* view) const;
    Point fromView(Point viewVector, const View* view) const;

    int minimumTouches_ = 1;
    Point start_;  // window coordinates
    Point last_;
    double lastTime_ = 0;
    Point velocity_;  // window points per second
};

}  // namespace pelmar::ui
