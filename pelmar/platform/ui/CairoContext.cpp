#include "pelmar/platform/ui/CairoContext.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "pelmar/platform/image/BitmapRedraw.h"

namespace pelmar::ui {

struct CairoContext::Handles {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;

    ~Handles() {
        if (cr != nullptr) {
            cairo_destroy(cr);
        }
        if (surface != nullptr) {
            cairo_surface_destroy(surface);
        }
    }
};

// Colours and alpha are ours, not cairo's: its source is set from them at each paint.
struct CairoContext::State {
    struct Values {
        Color fill = Color::black();
        Color stroke = Color::black();
        double alpha = 1;
    };

    Values current;
    std::vector<Values> saved;
};

std::unique_ptr<CairoContext> CairoContext::create(std::shared_ptr<image::Bitmap> target) {
    if (!target || target->format() != image::PixelFormat::BGRA8 || !target->premultiplied()
        || target->stride()
                   != static_cast<std::size_t>(
                           cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, target->width()))) {
        return nullptr;
    }
    std::unique_ptr<CairoContext> context(new CairoContext());
    context->handles_ = std::make_unique<Handles>();
    context->handles_->surface = cairo_image_surface_create_for_data(
            target->data(), CAIRO_FORMAT_ARGB32, target->width(), target->height(),
            static_cast<int>(target->stride()));
    if (cairo_surface_status(context->handles_->surface) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    context->handles_->cr = cairo_create(context->handles_->surface);
    if (cairo_status(context->handles_->cr) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    cairo_scale(context->handles_->cr, target->scale(), target->scale());
    context->state_ = std::make_unique<State>();
    context->target_ = std::move(target);
    return context;
}

CairoContext::~CairoContext() = default;

void CairoContext::flush() {
    cairo_surface_flush(handles_->surface);
}

void CairoContext::saveState() {
    cairo_save(handles_->cr);
    state_->saved.push_back(state_->current);
}

void CairoContext::restoreState() {
    if (state_->saved.empty()) {
        return;
    }
    cairo_restore(handles_->cr);
    state_->current = state_->saved.back();
    state_->saved.pop_back();
}

void CairoContext::translate(double dx, double dy) {
    cairo_translate(handles_->cr, dx, dy);
}

void CairoContext::concat(const AffineTransform& t) {
    cairo_matrix_t matrix;
    cairo_matrix_init(&matrix, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(handles_->cr, &matrix);
}

void CairoContext::setAlpha(double alpha) {
    state_->current.alpha *= std::clamp(std::isnan(alpha) ? 0.0 : alpha, 0.0, 1.0);
}

void CairoContext::roundedRect(Rect r, double radius) {
    cairo_t* cr = handles_->cr;
    radius = std::clamp(radius, 0.0, std::min(r.width, r.height) / 2);
    if (radius <= 0) {
        cairo_rectangle(cr, r.x, r.y, r.width, r.height);
        return;
    }
    constexpr double kQuarter = std::numbers::pi / 2;
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.x + r.width - radius, r.y + radius, radius, -kQuarter, 0);
    cairo_arc(cr, r.x + r.width - radius, r.y + r.height - radius, radius, 0, kQuarter);
    cairo_arc(cr, r.x + radius, r.y + r.height - radius, radius, kQuarter, 2 * kQuarter);
    cairo_arc(cr, r.x + radius, r.y + radius, radius, 2 * kQuarter, 3 * kQuarter);
    cairo_close_path(cr);
}

void CairoContext::clipToRect(Rect r, double cornerRadius) {
    roundedRect(r, cornerRadius);
    cairo_clip(handles_->cr);
}

void CairoContext::setFillColor(Color color) {
    state_->current.fill = color;
}

void CairoContext::setStrokeColor(Color color) {
    state_->current.stroke = color;
}

void CairoContext::setLineWidth(double width) {
    cairo_set_line_width(handles_->cr, std::max(0.0, width));
}

void CairoContext::setSource(Color c) {
    cairo_set_source_rgba(handles_->cr, c.red, c.green, c.blue, c.alpha * state_->current.alpha);
}

void CairoContext::fillRect(Rect r, double cornerRadius) {
    if (r.width <= 0 || r.height <= 0) {
        return;
    }
    roundedRect(r, cornerRadius);
    setSource(state_->current.fill);
    cairo_fill(handles_->cr);
}

void CairoContext::strokeRect(Rect r, double cornerRadius) {
    if (r.width <= 0 || r.height <= 0) {
        return;
    }
    roundedRect(r, cornerRadius);
    setSource(state_->current.stroke);
    cairo_stroke(handles_->cr);
}

void CairoContext::moveTo(Point p) {
    cairo_move_to(handles_->cr, p.x, p.y);
}

void CairoContext::lineTo(Point p) {
    cairo_line_to(handles_->cr, p.x, p.y);
}

void CairoContext::arc(Point centre, double radius, double startAngle, double endAngle) {
    cairo_arc(handles_->cr, centre.x, centre.y, radius, startAngle, endAngle);
}

void CairoContext::closePath() {
    cairo_close_path(handles_->cr);
}

void CairoContext::fillPath() {
    setSource(state_->current.fill);
    cairo_fill(handles_->cr);
}

void CairoContext::strokePath() {
    setSource(state_->current.stroke);
    cairo_stroke(handles_->cr);
}

void CairoContext::drawText(const std::string& text, Point origin, const Font& font, Color color) {
    if (text.empty()) {
        return;
    }
    cairo_t* cr = handles_->cr;
    cairo_select_font_face(cr, font.family.c_str(), CAIRO_FONT_SLANT_NORMAL,
                           font.isBold() ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font.size);
    cairo_font_extents_t extents;
    cairo_font_extents(cr, &extents);
    cairo_move_to(cr, origin.x, origin.y + extents.ascent);
    setSource(color);
    cairo_show_text(cr, text.c_str());
    cairo_new_path(cr);
}

void CairoContext::drawBitmap(const image::Bitmap& stored, Rect r) {
    if (r.width <= 0 || r.height <= 0) {
        return;
    }
    // A picture kept as stored (its EXIF orientation not yet applied) is turned upright here.
    std::shared_ptr<image::Bitmap> turned;
    if (stored.orientation() != image::Orientation::Up) {
        turned = image::BitmapRedraw::redraw(stored, stored.orientation());
        if (!turned) {
            return;
        }
    }
    const image::Bitmap& bitmap = turned ? *turned : stored;
    // cairo reads premultiplied BGRA; other layouts are converted into a scratch copy.
    const int w = bitmap.width();
    const int h = bitmap.height();
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        uint8_t* out = pixels.data() + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < w; ++x, out += 4) {
            const uint8_t* p = bitmap.pixel(x, y);
            uint8_t b = 0, g = 0, red = 0, a = 255;
            switch (bitmap.format()) {
                case image::PixelFormat::BGRA8:
                    b = p[0], g = p[1], red = p[2], a = p[3];
                    break;
                case image::PixelFormat::RGBA8:
                    red = p[0], g = p[1], b = p[2], a = p[3];
                    break;
                case image::PixelFormat::Gray8:
                    red = g = b = p[0];
                    break;
            }
            if (bitmap.opaque()) {
                a = 255;
            } else if (!bitmap.premultiplied()) {
                red = static_cast<uint8_t>(red * a / 255);
                g = static_cast<uint8_t>(g * a / 255);
                b = static_cast<uint8_t>(b * a / 255);
            }
            out[0] = b;
            out[1] = g;
            out[2] = red;
            out[3] = a;
        }
    }
    cairo_surface_t* source =
            cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_ARGB32, w, h, stride);
    cairo_t* cr = handles_->cr;
    cairo_save(cr);
    cairo_translate(cr, r.x, r.y);
    cairo_scale(cr, r.width / w, r.height / h);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_paint_with_alpha(cr, state_->current.alpha);
    cairo_restore(cr);
    cairo_surface_destroy(source);
}

}  // namespace pelmar::ui
