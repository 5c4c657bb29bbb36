#pragma once

#include <map>
#include <memory>
#include <string>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Control.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"

namespace pelmar::ui {

// The states a button keeps an image for.
enum class ControlState : int { Normal, Selected, Highlighted, Disabled };

// Which way a view lays its content out: as the language reads, or forced one way.
enum class SemanticContentAttribute : int {
    Unspecified = 0,
    ForceLeftToRight = 3,
    ForceRightToLeft = 4,
};

// Button: a control with a title and an image per state; a tap sends its touch-up-inside actions.
// Its image and title stand side by side, centred together: the image first, or after the title
// when the layout is forced right to left; a picture larger than the button is shrunk with its
// aspect to fit. imageView() is the button's own view of its current image, made on first use and
// placed at each layout and each read; it belongs to the button but is not one of its subviews,
// so its frame is in the button's coordinates. The button's image is painted through it: at its
// place, with its transform (an arrow turned half round, say), alpha and hidden flag.
// Ownership: reference object made with std::make_shared; holds its images and its image view.
// Threads: main thread only.
// Errors: tap() is refused (returns false) unless a user could reach the button (see ui::tap).
class Button : public Control {
public:
    using Control::Control;

    std::shared_ptr<const Image> image(ControlState state) const;

    void setImage(std::shared_ptr<const Image> image, ControlState state);

    // The image for the current state: the disabled, highlighted or selected image when the
    // button is in that state (in that order) and one is set, else the normal image.
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

    // Whether the title's font shrinks so the title fits the width.
    bool titleAdjustsFontSizeToFitWidth() const { return titleShrinks_; }

    void setTitleAdjustsFontSizeToFitWidth(bool shrinks) { titleShrinks_ = shrinks; }

    SemanticContentAttribute semanticContentAttribute() const { return semantic_; }

    void setSemanticContentAttribute(SemanticContentAttribute attribute);

    const std::shared_ptr<ImageView>& imageView();

    // The size that just holds the title (one line, measured in its font) and the image.
    Size sizeThatFits() const;

    // Keeps the origin and takes sizeThatFits().
    void sizeToFit();

    // A user's tap on the button's centre through its window (ui::tap); true when delivered.
    bool tap();

protected:
    std::string className() const override { return "Button"; }

    void layoutSubviews() override;

private:
    Size titleSize() const;
    void placeImageView();

    std::map<ControlState, std::shared_ptr<const Image>> images_;
    std::string title_;
    std::map<ControlState, Color> titleColors_;
    Font titleFont_ = Font::systemFont(15);
    bool titleShrinks_ = false;
    SemanticContentAttribute semantic_ = SemanticContentAttribute::Unspecified;
    std::shared_ptr<ImageView> imageView_;
};

}  // namespace pelmar::ui
