#include "pelmar/picker/ImageViewLayout.h"

namespace pelmar {

ui::Rect ImageViewLayout::frameForImage(ui::Size imageSize,
                                        ui::Rect previous,
                                        ui::Size container,
                                        ui::ContentMode mode) {
    const double W = container.width;
    const double H = container.height;
    const double w = imageSize.width;
    const double h = imageSize.height;
    switch (mode) {
        case ui::ContentMode::ScaleToFill:
            return {0, 0, W, H};
        case ui::ContentMode::ScaleAspectFit:
        case ui::ContentMode::ScaleAspectFill: {
            if (W <= 0 || H <= 0 || w <= 0 || h <= 0) {
                return {W * 0.5, H * 0.5, 0, 0};
            }
            const double rw = w / W;
            const double rh = h / H;
            const double r = mode == ui::ContentMode::ScaleAspectFit ? (rh <= rw ? rw : rh)
                                                                     : (rw < rh ? rw : rh);
            return {(W - w / r) * 0.5, (H - h / r) * 0.5, w / r, h / r};
        }
        case ui::ContentMode::Redraw:
            return previous;
        case ui::ContentMode::Center:
            return {(W - w) * 0.5, (H - h) * 0.5, w, h};
        case ui::ContentMode::Top:
            return {(W - w) * 0.5, 0, w, h};
        case ui::ContentMode::Bottom:
            return {(W - w) * 0.5, H - h, w, h};
        case ui::ContentMode::Left:
            return {0, (H - h) * 0.5, w, h};
        case ui::ContentMode::Right:
            return {W - w, (H - h) * 0.5, w, h};
        case ui::ContentMode::TopLeft:
            return {0, 0, w, h};
        case ui::ContentMode::TopRight:
            return {W - w, 0, w, h};
        case ui::ContentMode::BottomLeft:
            return {0, H - h, w, h};
        case ui::ContentMode::BottomRight:
            return {W - w, H - h, w, h};
    }
    return {0, 0, w, h};
}

}  // namespace pelmar
