#include "pelmar/platform/ui/Snapshot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/CairoContext.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"

namespace pelmar::ui {

namespace {

void paintBorder(const Layer& layer, GraphicsContext& context, Rect bounds) {
    if (layer.borderWidth() <= 0) {
        return;
    }
    // Drawn inside the bounds, over the content.
    const double inset = layer.borderWidth() / 2;
    context.setStrokeColor(layer.borderColor());
    context.setLineWidth(layer.borderWidth());
    context.strokeRect({bounds.x + inset, bounds.y + inset, bounds.width - 2 * inset,
                        bounds.height - 2 * inset},
                       std::max(0.0, layer.cornerRadius() - inset));
}

void paintSublayers(Layer& layer, GraphicsContext& context);

// A layer's own picture and its sublayers in `bounds`; its background is painted already.
void paintLayerContents(Layer& layer, GraphicsContext& context, Rect bounds) {
    layer.drawInContext(context, bounds);
    paintSublayers(layer, context);
}

// Each sublayer at its frame, over its background, with its opacity and border.
void paintSublayers(Layer& layer, GraphicsContext& context) {
    // A copy: drawing may change the tree.
    const auto sublayers = layer.sublayers();
    for (const auto& sub : sublayers) {
        const Rect frame = sub->frame();
        if (sub->opacity() <= 0 || frame.width <= 0 || frame.height <= 0) {
            continue;
        }
        const Rect bounds{0, 0, frame.width, frame.height};
        context.saveState();
        context.translate(frame.x, frame.y);
        context.setAlpha(sub->opacity());
        if (auto background = sub->backgroundColor()) {
            context.setFillColor(*background);
            context.fillRect(bounds, sub->cornerRadius());
        }
        paintLayerContents(*sub, context, bounds);
        paintBorder(*sub, context, bounds);
        context.restoreState();
    }
}

// Paints `view` in its own bounds coordinates: the bounds origin is where its content starts.
void paintContent(View& view, GraphicsContext& context) {
    const Rect bounds = view.bounds();
    auto layer = view.layer();
    context.setAlpha(view.alpha() * layer->opacity());
    if (auto background = layer->backgroundColor()) {
        context.setFillColor(*background);
        context.fillRect(bounds, layer->cornerRadius());
    }
    if (auto* label = dynamic_cast<Label*>(&view)) {
        context.drawText(label->text(), {bounds.x, bounds.y}, Font{}, Color::black());
    }
    if (auto* imageView = dynamic_cast<ImageView*>(&view)) {
        if (auto image = imageView->image(); image && image->bitmap()) {
            context.drawBitmap(*image->bitmap(), bounds);
        }
    }
    if (auto* button = dynamic_cast<Button*>(&view)) {
        if (auto image = button->currentImage(); image && image->bitmap()) {
            context.drawBitmap(*image->bitmap(), bounds);
        }
    }
    view.draw(context);
    paintLayerContents(*layer, context, bounds);
    for (const auto& subview : view.subviews()) {
        if (subview->isHidden() || subview->alpha() <= 0) {
            continue;
        }
        // A subview sits with its bounds centred on its centre, turned by its transform.
        const Rect sub = subview->bounds();
        const Point center = subview->center();
        context.saveState();
        if (subview->transform().isIdentity()) {
            context.translate(center.x - sub.width / 2 - sub.x, center.y - sub.height / 2 - sub.y);
        } else {
            context.translate(center.x, center.y);
            context.concat(subview->transform());
            context.translate(-sub.width / 2 - sub.x, -sub.height / 2 - sub.y);
        }
        paintContent(*subview, context);
        context.restoreState();
    }
    paintBorder(*layer, context, bounds);
}

Error snapshotError(std::string message) {
    return Error{std::string(kSnapshotErrorDomain), 1, std::move(message)};
}

}  // namespace

void paint(View& view, GraphicsContext& context) {
    if (view.isHidden() || view.alpha() <= 0) {
        return;
    }
    context.saveState();
    const Rect bounds = view.bounds();
    if (bounds.x != 0 || bounds.y != 0) {
        context.translate(-bounds.x, -bounds.y);
    }
    paintContent(view, context);
    context.restoreState();
}

std::shared_ptr<image::Bitmap> render(View& view, double scale) {
    const Rect frame = view.bounds();
    const double w = std::ceil(frame.width * scale);
    const double h = std::ceil(frame.height * scale);
    if (!(w >= 1 && h >= 1 && w <= image::Bitmap::kMaxDimension
          && h <= image::Bitmap::kMaxDimension)) {
        return nullptr;
    }
    auto bitmap = image::Bitmap::create(
            static_cast<int>(w), static_cast<int>(h),
            {.format = image::PixelFormat::BGRA8, .premultiplied = true, .scale = scale});
    auto context = CairoContext::create(bitmap);
    if (!context) {
        return nullptr;
    }
    paint(view, *context);
    context->flush();
    return bitmap;
}

std::optional<Error> snapshot(View& view, const std::filesystem::path& path, double scale) {
    auto bitmap = render(view, scale);
    if (!bitmap) {
        return snapshotError("the view cannot be rendered at its size");
    }
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
            bitmap->data(), CAIRO_FORMAT_ARGB32, bitmap->width(), bitmap->height(),
            static_cast<int>(bitmap->stride()));
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        return snapshotError("cannot write " + path.string() + ": "
                             + cairo_status_to_string(status));
    }
    return std::nullopt;
}

}  // namespace pelmar::ui
