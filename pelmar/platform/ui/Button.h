#pragma once

#include <map>
#include <memory>
#include <string>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::ui {

// The states a button keeps an image for.
enum class ControlState : int { Normal, Selected, Highlighted, Disabled };

// Button: a control with a title and an image per state; a tap sends its touch-up-inside actions.
// Ownership: reference object made with std::make_shared; holds its images.
// Threads: main thread only.
// Errors: tap() is refused (returns false) unless a user could reach the button (see ui::tap).
class Button : public Control {
public:
    using Control::Control;

    std::shared_ptr<const Image> image(ControlState state) const;

    void setImage(std::shared_ptr<const Image> image, ControlState state);

    // The image for the current state (the selected image when selected and one is set).
    std::shared_ptr<const Image> currentImage() const;

    const std::string& title() const { return title_; }

    void setTitle(std::string title);

    // The title's colour in a state; a state without one uses the normal state's (white by
    // default, as on a dark bar).
    Color titleColor(ControlState state) const;
    void setTitleColor(Color color, ControlState state);
    // The colour for the current state.
    Color currentTitleColor() const;

    const Font& titleFont() const { return titleFont_; }

    void setTitleFont(Font font) { titleFont_ = std::move(font); }

    // A user's tap on the button's centre through its window (ui::tap); true when delivered.
    bool tap();

protected:
    std::string className() const override { return "Button"; }

private:
    std::map<ControlState, std::shared_ptr<const Image>> images_;
    std::string title_;
    std::map<ControlState, Color> titleColors_;
    Font titleFont_ = Font::systemFont(15);
};

}  // namespace pelmar::ui
