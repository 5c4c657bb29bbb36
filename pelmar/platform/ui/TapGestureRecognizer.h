#pragma once

#include <functional>

#include "pelmar/platform/ui/GestureRecognizer.h"

namespace pelmar::ui {

// TapGestureRecognizer: a discrete recogniser for numberOfTapsRequired quick taps. It fails when
// a finger moves more than kAllowableMovement points, or when the next tap does not come down
// within kMaximumTapInterval seconds on the clock.
// Ownership, Threads: as GestureRecognizer.
// Errors: none.
class TapGestureRecognizer : public GestureRecognizer {
public:
    static constexpr double kAllowableMovement = 10;
    static constexpr double kMaximumTapInterval = 0.35;

    using TapAction = std::function<void(TapGestureRecognizer&)>;

    TapGestureRecognizer() = default;
    explicit TapGestureRecognizer(TapAction action);

    int numberOfTapsRequired() const { return tapsRequired_; }

    void setNumberOfTapsRequired(int taps) { tapsRequired_ = taps < 1 ? 1 : taps; }

protected:
    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;
    void reset() override;

    bool isDiscrete() const override { return true; }

private:
    int tapsRequired_ = 1;
    int taps_ = 0;
    unsigned timer_ = 0;  // bumped to disarm the pending timeout
    Point start_;
};

}  // namespace pelmar::ui
