#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// LuxMeterView: a sun icon for the scene's brightness (an EXIF brightness value): red below -0.5,
// yellow below 1.0, both blinking; white and steady from 1.0. It looks at the last value every
// half second while it is in a window, and starts looking again when it comes back to one.
// Content from the interface file "LuxMeterView".
// Ownership: reference object made with create(); its scheduled updates hold it weakly.
// Threads: main thread only, except setCurrentLuminousity() (any thread).
// Errors: none.
class LuxMeterView : public ui::View {
public:
    static constexpr double kUpdateInterval = 0.5;

    // A meter of `frame` with its content loaded; its first look comes half a second later.
    static std::shared_ptr<LuxMeterView> create(ui::Rect frame);

    explicit LuxMeterView(ui::Rect frame) : ui::View(frame) {}

    std::shared_ptr<ui::View> contentView;
    std::weak_ptr<ui::ImageView> imageView;

    double currentLuminousity() const { return currentLuminousity_.load(); }

    void setCurrentLuminousity(double value) { currentLuminousity_.store(value); }

    void layoutSubviews() override;

    void didMoveToWindow() override;

protected:
    std::string className() const override { return "LuxMeterView"; }

private:
    void initNib();
    void scheduleUpdate();
    void updateImage();
    void showLevel();

    std::atomic<double> currentLuminousity_{0};
    bool updating_ = false;  // a look is scheduled
};

}  // namespace pelmar
