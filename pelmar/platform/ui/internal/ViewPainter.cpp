#include "pelmar/platform/ui/internal/ViewPainter.h"

#include <algorithm>
#include <string>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"

namespace pelmar::ui::internal {

namespace {

// A template image is painted in `tint`, any other as it is.
void drawImage(const Image& image, Rect rect, Color tint, GraphicsContext& context) {
    const auto& bitmap = image.bitmap();
    if (!bitmap) {
        return;
    }
    if (image.isTemplate()) {
        context.drawTintedBitmap(*bitmap, rect, tint);
    } else {
        context.drawBitmap(*bitmap, rect);
    }
}

void paintImageView(ImageView& view, GraphicsContext& context) {
    const auto image = view.displayedImage();
    if (!image) {
        return;
    }
    const Rect place =
            placeContent(view.contentMode(), view.bounds(), {image->width(), image->height()});
    drawImage(*image, place, view.effectiveTintColor(), context);
}

// A subview sits with its bounds centred on its centre, turned by its transform.
void placeSubview(const View& view, GraphicsContext& context) {
    const Rect sub = view.bounds();
    const Point center = view.center();
    if (view.transform().isIdentity()) {
        context.translate(center.x - sub.width / 2 - sub.x, center.y - sub.height / 2 - sub.y);
        return;
    }
    context.translate(center.x, center.y);
    context.concat(view.transform());
    context.translate(-sub.width / 2 - sub.x, -sub.height / 2 - sub.y);
}

// A button's image through its image view (where the button placed it, turned by the view's
// transform, under its alpha; a template image takes the view's tint, else the button's), and
// its title beside it: after the image, or before it when the image stands last. Without an
// image the title is centred in the bounds.
void paintButton(Button& button, GraphicsContext& context) {
    const Rect b = button.bounds();
    auto& imageView = *button.imageView();
    const auto image = imageView.image();
    const bool hasImage = image && image->bitmap() && image->width() > 0 && image->height() > 0;
    const Rect picture = hasImage ? imageView.bounds() : Rect{};
    const double imageLeft = imageView.center().x - picture.width / 2;
    TextStyle style;
    style.font = button.titleFont();
    style.color = button.currentTitleColor();
    style.alignment = TextAlignment::Center;
    style.lineBreak = LineBreakMode::ByTruncatingMiddle;
    const std::string& title = button.title();
    const double titleRoom = std::max(0.0, b.width - picture.width);
    const Size titleSize = title.empty() ? Size{} : context.measureText(title, style, titleRoom);
    const double titleWidth = std::min(titleSize.width, titleRoom);
    if (hasImage && !imageView.isHidden() && imageView.alpha() > 0) {
        context.saveState();
        context.setAlpha(imageView.alpha() * imageView.layer()->opacity());
        placeSubview(imageView, context);
        drawImage(*image, picture, imageView.tintColor().value_or(button.effectiveTintColor()),
                  context);
        context.restoreState();
    }
    if (title.empty()) {
        return;
    }
    double x = b.x + (b.width - titleWidth) / 2;
    if (hasImage) {
        const bool imageLast =
                button.semanticContentAttribute() == SemanticContentAttribute::ForceRightToLeft;
        x = imageLast ? imageLeft - titleWidth : imageLeft + picture.width;
    }
    context.drawText(title, {x, b.y, titleWidth, b.height}, style);
}

void placeSublayer(const Layer& layer, GraphicsContext& context) {
    const Rect frame = layer.frame();
    if (layer.transform().isIdentity()) {
        context.translate(frame.x, frame.y);
        return;
    }
    context.translate(frame.x + frame.width / 2, frame.y + frame.height / 2);
    context.concat(layer.transform());
    context.translate(-frame.width / 2, -frame.height / 2);
}

// Everything of `layer` (and of `view`, whose layer it is, when given) in `bounds`; the caller
// has saved the state and restores it.
void paintBody(Layer& layer, Rect bounds, View* view, GraphicsContext& context) {
    context.setAlpha((view != nullptr ? view->alpha() : 1.0) * layer.opacity());
    const auto background = layer.backgroundColor();
    const double radius = layer.cornerRadius();
    Color shadow = layer.shadowColor().value_or(Color::black());
    shadow.alpha *= std::clamp(layer.shadowOpacity(), 0.0, 1.0);
    const bool shadowed = shadow.alpha > 0;
    if (shadowed) {
        // Everything the layer paints, its sublayers and subviews included, casts the shadow.
        context.saveState();
        context.setShadow(shadow, layer.shadowOffset(), layer.shadowRadius());
    }
    if (auto mask = layer.mask()) {
        context.beginMask();
        paintSublayer(*mask, context);
        context.endMask();
    }
    if (layer.masksToBounds()) {
        context.clipToRect(bounds, radius);
    }
    if (background) {
        context.setFillColor(*background);
        context.fillRect(bounds, radius);
    }
    layer.draw(context, bounds);
    if (view != nullptr) {
        if (auto* label = dynamic_cast<Label*>(view)) {
            label->drawText(context, label->bounds());
        } else if (auto* imageView = dynamic_cast<ImageView*>(view)) {
            paintImageView(*imageView, context);
        } else if (auto* button = dynamic_cast<Button*>(view)) {
            paintButton(*button, context);
        }
        view->draw(context);
    }
    // Sublayers sit in the layer's bounds coordinates, like subviews.
    for (const auto& sublayer : layer.sublayers()) {
        paintSublayer(*sublayer, context);
    }
    if (view != nullptr) {
        for (const auto& subview : view->subviews()) {
            if (subview->isHidden() || subview->alpha() <= 0) {
                continue;
            }
            context.saveState();
            placeSubview(*subview, context);
            paintBody(*subview->layer(), subview->bounds(), subview.get(), context);
            context.restoreState();
        }
    }
    if (layer.borderWidth() > 0) {
        // Drawn inside the bounds, over the content.
        const double inset = layer.borderWidth() / 2;
        context.setStrokeColor(layer.borderColor());
        context.setLineWidth(layer.borderWidth());
        context.strokeRect({bounds.x + inset, bounds.y + inset, bounds.width - 2 * inset,
                            bounds.height - 2 * inset},
                           std::max(0.0, radius - inset));
    }
    if (shadowed) {
        context.restoreState();
    }
}

}  // namespace

void paintSublayer(Layer& layer, GraphicsContext& context) {
    if (layer.isHidden() || layer.opacity() <= 0) {
        return;
    }
    context.saveState();
    placeSublayer(layer, context);
    paintBody(layer, layer.bounds(), nullptr, context);
    context.restoreState();
}

void paintView(View& view, GraphicsContext& context) {
    if (view.isHidden() || view.alpha() <= 0) {
        return;
    }
    context.saveState();
    const Rect bounds = view.bounds();
    if (bounds.x != 0 || bounds.y != 0) {
        context.translate(-bounds.x, -bounds.y);
    }
    paintBody(*view.layer(), bounds, &view, context);
    context.restoreState();
}

}  // namespace pelmar::ui::internal
