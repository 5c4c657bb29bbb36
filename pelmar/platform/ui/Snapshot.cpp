#include "pelmar/platform/ui/Snapshot.h"

#include <cairo.h>

#include <cmath>
#include <string>

#include "pelmar/platform/ui/CairoContext.h"
#include "pelmar/platform/ui/internal/ViewPainter.h"

namespace pelmar::ui {

namespace {

Error snapshotError(std::string message) {
    return Error{std::string(kSnapshotErrorDomain), 1, std::move(message)};
}

}  // namespace

void paint(View& view, GraphicsContext& context) {
    internal::paintView(view, context);
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
