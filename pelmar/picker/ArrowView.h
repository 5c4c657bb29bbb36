#pragma once

#include <memory>
#include <vector>

#include "pelmar/picker/Settings.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// ArrowView: the small downward chevron beside the album title, drawn in an 8 x 8 design box
// scaled into the view by its resizing behaviour, and rendered into an image for the button.
// Ownership: reference object from std::make_shared.
// Threads: main thread only.
// Errors: none.
class ArrowView : public ui::View {
public:
    enum class ResizingBehavior : int { AspectFit, AspectFill, Stretch, Center };

    // `rect` scaled by the behaviour and centred in `target`; unchanged when it equals the target
    // or the target is the zero rectangle (and when `rect` has no area, to avoid dividing by 0).
    static ui::Rect apply(ResizingBehavior behavior, ui::Rect rect, ui::Rect target);

    explicit ArrowView(ui::Rect frame = {});

    ResizingBehavior resizing() const { return resizing_; }

    void setResizing(ResizingBehavior r) { resizing_ = r; }

    ui::Color strokeColor() const { return strokeColor_; }

    void setStrokeColor(ui::Color c) { strokeColor_ = c; }

    static ui::Size intrinsicContentSize() { return {8, 8}; }

    // The chevron's points in the design box: (0, 2), (4, 6), (8, 2).
    static std::vector<ui::Point> chevronPath();

    void draw(ui::GraphicsContext& context) override;

    // The view rendered into a bitmap image of its bounds (at the main screen's scale).
    std::shared_ptr<const ui::Image> asImage();

protected:
    std::string className() const override { return "ArrowView"; }

private:
    ResizingBehavior resizing_ = ResizingBehavior::AspectFit;
    ui::Color strokeColor_ = PickerColors::systemStrokeColor(UserInterfaceStyle::Light);
};

}  // namespace pelmar
