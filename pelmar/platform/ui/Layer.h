#pragma once

#include <optional>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

// Layer: the backing layer of a view: opacity and shadow. Nothing is drawn; the values are kept
// for whoever reads them (tests). Subclasses stand for special layers (a camera preview).
// Ownership: reference object made with std::make_shared; owned by its view.
// Threads: main thread only.
// Errors: none; opacity is clamped to [0, 1].
class Layer {
public:
    Layer() = default;
    virtual ~Layer();

    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    double opacity() const { return opacity_; }

    void setOpacity(double opacity);

    double shadowOpacity() const { return shadowOpacity_; }

    void setShadowOpacity(double opacity) { shadowOpacity_ = opacity; }

    std::optional<Color> shadowColor() const { return shadowColor_; }

    void setShadowColor(std::optional<Color> color) { shadowColor_ = color; }

    Size shadowOffset() const { return shadowOffset_; }

    void setShadowOffset(Size offset) { shadowOffset_ = offset; }

private:
    double opacity_ = 1.0;
    double shadowOpacity_ = 0.0;
    std::optional<Color> shadowColor_;
    Size shadowOffset_{0, -3};
};

}  // namespace pelmar::ui
