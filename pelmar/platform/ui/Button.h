#pragma once

#include <map>
#include <memory>

#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::ui {

// The states a button keeps an image for.
enum class ControlState : int { Normal, Selected };

// Button: a control with an image per state; a tap sends its touch-up-inside actions.
// Ownership: reference object made with std::make_shared; holds its images.
// Threads: main thread only.
// Errors: a tap on a disabled or hidden button does nothing (returns false).
class Button : public Control {
public:
    using Control::Control;

    std::shared_ptr<const Image> image(ControlState state) const;

    void setImage(std::shared_ptr<const Image> image, ControlState state);

    // The image for the current state (the selected image when selected and one is set).
    std::shared_ptr<const Image> currentImage() const;

    // A user's tap: sends TouchUpInside when the button is enabled and visible.
    bool tap();

private:
    std::map<ControlState, std::shared_ptr<const Image>> images_;
};

}  // namespace pelmar::ui
