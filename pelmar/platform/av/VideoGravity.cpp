#include "pelmar/platform/av/VideoGravity.h"

#include <algorithm>

namespace pelmar::av {

ui::Rect videoRect(LayerVideoGravity gravity, double width, double height, ui::Rect bounds) {
    if (gravity == LayerVideoGravity::Resize || !(width > 0 && height > 0)) {
        return bounds;
    }
    const double sx = bounds.width / width;
    const double sy = bounds.height / height;
    const double scale =
            gravity == LayerVideoGravity::ResizeAspectFill ? std::max(sx, sy) : std::min(sx, sy);
    const double w = width * scale;
    const double h = height * scale;
    return {bounds.x + (bounds.width - w) / 2, bounds.y + (bounds.height - h) / 2, w, h};
}

void drawVideoPicture(ui::GraphicsContext& context,
                      const image::Bitmap& picture,
                      LayerVideoGravity gravity,
                      ui::Rect bounds,
                      bool mirrored) {
    if (bounds.width <= 0 || bounds.height <= 0) {
        return;
    }
    const ui::Rect shown = videoRect(gravity, picture.width(), picture.height(), bounds);
    context.saveState();
    context.clipToRect(bounds);
    if (mirrored) {
        // x -> 2 * centre - x turns the picture about the bounds' vertical centre line.
        context.concat({-1, 0, 0, 1, 2 * bounds.x + bounds.width, 0});
    }
    context.drawBitmap(picture, shown);
    context.restoreState();
}

}  // namespace pelmar::av
