#pragma once

#include <optional>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

// Layer: the backing layer of a view: opacity, background, border, corner radius and shadow.
// Snapshots paint the background, border and corners; the rest is kept for whoever reads it.
// Subclasses stand for special layers (a camera preview). Ownership: reference object made with
// std::make_shared; owned by its view. Threads: main thread only. Errors: none; opacity is clamped
// to [0, 1].
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

    std::optional<Color> backgroundColor() const { return backgroundColor_; }

    void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }

    Color borderColor() const { return borderColor_; }

    void setBorderColor(Color color) { borderColor_ = color; }

    double borderWidth() const { return borderWidth_; }

    void setBorderWidth(double width) { borderWidth_ = width; }

    double cornerRadius() const { return cornerRadius_; }

    void setCornerRadius(double radius) { cornerRadius_ = radius; }

private:
    std::optional<Color> backgroundColor_;
    Color borderColor_ = Color::black();
    double borderWidth_ = 0.0;
    double cornerRadius_ = 0.0;
    double opacity_ = 1.0;
    double shadowOpacity_ = 0.0;
    std::optional<Color> shadowColor_;
    Size shadowOffset_{0, -3};
};

}  // namespace pelmar::ui
