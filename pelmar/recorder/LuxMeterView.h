#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// LuxMeterView: a sun icon for the scene's brightness (an EXIF brightness value): red below -0.5,
// yellow below 1.0, both blinking; white and steady from 1.0. While it is in a window it checks
// every half second and shows the last value half a second after each check (so the first look
// comes a second after it is made), and it starts checking again when it comes back to a window.
// Content from the interface file "LuxMeterView".
// Ownership: reference object made with create(); its scheduled updates hold it weakly.
// Threads: main thread only, except setCurrentLuminousity() (any thread).
// Errors: none.
class LuxMeterView : public ui::View {
public:
    static constexpr double kUpdateInterval = 0.5;

    // A meter of `frame` with its content loaded; its first check comes half a second later.
    static std::shared_ptr<LuxMeterView> create(ui::Rect frame);

    // The SDK's picture resource `name` (a named image without pixels when it does not ship).
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

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
