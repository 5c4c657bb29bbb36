#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

class GraphicsContext;

// Layer: the backing layer of a view, or a sublayer placed in another layer: opacity,
// background, border, corner radius and shadow, a frame in its superlayer's coordinates (a
// view's own layer follows the view instead) and sublayers in painting order. Snapshots paint the
// background, border and corners, what drawInContext() paints and then the sublayers; the rest
// is kept for whoever reads it. Subclasses stand for special layers (a camera preview, a player).
// Ownership: reference object made with std::make_shared; owned by its view or its superlayer,
//     which it refers to weakly. Threads: main thread only. Errors: none; opacity is clamped to
//     [0, 1]; adding a layer to itself or to one of its own sublayers is ignored.
class Layer : public std::enable_shared_from_this<Layer> {
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

    Rect frame() const { return frame_; }

    void setFrame(Rect frame) { frame_ = frame; }

    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }

    std::shared_ptr<Layer> superlayer() const { return superlayer_.lock(); }

    // Adds `layer` on top of the sublayers (or at `index`, clamped), first taking it out of its
    // present superlayer.
    void addSublayer(std::shared_ptr<Layer> layer);
    void insertSublayer(std::shared_ptr<Layer> layer, std::size_t index);

    void removeFromSuperlayer();

    // The layer's own picture in `bounds` (its own coordinates), painted over its background and
    // under its sublayers. The default paints nothing.
    virtual void drawInContext(GraphicsContext& context, Rect bounds);

private:
    std::optional<Color> backgroundColor_;
    Color borderColor_ = Color::black();
    double borderWidth_ = 0.0;
    double cornerRadius_ = 0.0;
    double opacity_ = 1.0;
    double shadowOpacity_ = 0.0;
    std::optional<Color> shadowColor_;
    Size shadowOffset_{0, -3};
    Rect frame_;
    std::vector<std::shared_ptr<Layer>> sublayers_;
    std::weak_ptr<Layer> superlayer_;
};

}  // namespace pelmar::ui
