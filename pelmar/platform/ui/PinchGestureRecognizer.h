#pragma once

#include "pelmar/platform/ui/GestureRecognizer.h"

namespace pelmar::ui {

// PinchGestureRecognizer: a continuous recogniser for two fingers moving apart or together;
// scale() is their distance over the distance when the second finger came down. It begins once
// the distance changed by more than kHysteresis points and ends when a finger lifts.
// Ownership, Threads: as GestureRecognizer.
// Errors: none; fingers that came down on one point give a scale of 1.
class PinchGestureRecognizer : public GestureRecognizer {
public:
    static constexpr double kHysteresis = 4;

    using GestureRecognizer::GestureRecognizer;

    double scale() const { return scale_; }

    // A target may set it back to 1 to read increments.
    void setScale(double scale);

protected:
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;
    void reset() override;

private:
    double distance() const;

    double startDistance_ = 0;
    double scale_ = 1;
};

}  // namespace pelmar::ui
