#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

class GraphicsContext;

// Layer: the backing layer of a view, or a sublayer of another layer: opacity, background,
// border, corner radius, a shadow (of everything the layer paints, blurred; shown while its
// opacity is above 0), clipping to its bounds, a mask layer and sublayers with their
// own frames (in the superlayer's coordinates), transforms (around the frame's centre), opacity
// and hidden flags. Snapshots paint all of it; a view's own layer takes its geometry from the
// view, so its frame and transform are not read. Subclasses stand for special layers (a camera
// preview, a player's picture, a gradient) and paint their content in draw().
// Ownership: reference object made with std::make_shared; owned by its view or superlayer; owns
//     its sublayers and mask; refers to its superlayer weakly.
// Threads: main thread only.
// Errors: none; opacity is clamped to [0, 1]; adding a layer to itself or below itself is ignored.
class Layer : public std::enable_shared_from_this<Layer> {
public:
    Layer() = default;
    virtual ~Layer();

    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    double opacity() const { return opacity_; }

    void setOpacity(double opacity);

    bool isHidden() const { return hidden_; }

    void setHidden(bool hidden) { hidden_ = hidden; }

    double shadowOpacity() const { return shadowOpacity_; }

    void setShadowOpacity(double opacity) { shadowOpacity_ = opacity; }

    std::optional<Color> shadowColor() const { return shadowColor_; }

    void setShadowColor(std::optional<Color> color) { shadowColor_ = color; }

    Size shadowOffset() const { return shadowOffset_; }

    // The blur of the shadow in points.
    double shadowRadius() const { return shadowRadius_; }

    void setShadowRadius(double radius) { shadowRadius_ = radius; }

    void setShadowOffset(Size offset) { shadowOffset_ = offset; }

    std::optional<Color> backgroundColor() const { return backgroundColor_; }

    void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }

    Color borderColor() const { return borderColor_; }

    void setBorderColor(Color color) { borderColor_ = color; }

    double borderWidth() const { return borderWidth_; }

    void setBorderWidth(double width) { borderWidth_ = width; }

    double cornerRadius() const { return cornerRadius_; }

    void setCornerRadius(double radius) { cornerRadius_ = radius; }

    // Whether content, sublayers and subviews are cut at the bounds (rounded by cornerRadius).
    bool masksToBounds() const { return masksToBounds_; }

    void setMasksToBounds(bool masks) { masksToBounds_ = masks; }

    // A sublayer's place in its superlayer's coordinates.
    Rect frame() const { return frame_; }

    void setFrame(Rect frame) { frame_ = frame; }

    // The layer's own coordinates: origin 0, 0 and the frame's size.
    Rect bounds() const { return Rect{0, 0, frame_.width, frame_.height}; }

    AffineTransform transform() const { return transform_; }

    void setTransform(AffineTransform transform) { transform_ = transform; }

    // A layer whose alpha decides where this layer shows; it is painted in this layer's bounds
    // coordinates at its own frame.
    std::shared_ptr<Layer> mask() const { return mask_; }

    void setMask(std::shared_ptr<Layer> mask) { mask_ = std::move(mask); }

    // Back to front.
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }

    std::shared_ptr<Layer> superlayer() const { return superlayer_.lock(); }

    // Adds `layer` on top, taking it from its previous superlayer.
    void addSublayer(const std::shared_ptr<Layer>& layer);

    // Adds `layer` at `index` (clamped to the end).
    void insertSublayer(const std::shared_ptr<Layer>& layer, std::size_t index);

    void removeFromSuperlayer();

    // Paints the layer's own content in `bounds` (its bounds, or its view's), over its
    // background and under its sublayers. The default paints nothing.
    virtual void draw(GraphicsContext& /*context*/, Rect /*bounds*/) {}

private:
    std::optional<Color> backgroundColor_;
    Color borderColor_ = Color::black();
    double borderWidth_ = 0.0;
    double cornerRadius_ = 0.0;
    double opacity_ = 1.0;
    bool hidden_ = false;
    bool masksToBounds_ = false;
    double shadowOpacity_ = 0.0;
    std::optional<Color> shadowColor_;
    Size shadowOffset_{0, -3};
    double shadowRadius_ = 3.0;
    Rect frame_;
    AffineTransform transform_;
    std::shared_ptr<Layer> mask_;
    std::vector<std::shared_ptr<Layer>> sublayers_;
    std::weak_ptr<Layer> superlayer_;
};

}  // namespace pelmar::ui
