#include "pelmar/platform/ui/CairoContext.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "pelmar/platform/image/BitmapRedraw.h"
#include "pelmar/platform/ui/internal/AlphaBlur.h"

namespace pelmar::ui {

struct CairoContext::Handles {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    // One layout, reused for every text: Pango caches fonts and shaping per layout context.
    PangoLayout* layout = nullptr;

    ~Handles() {
        if (layout != nullptr) {
            g_object_unref(layout);
        }
        if (cr != nullptr) {
            cairo_destroy(cr);
        }
        if (surface != nullptr) {
            cairo_surface_destroy(surface);
        }
    }
};

namespace {

// A cairo pattern reference that is released once.
struct Pattern {
    cairo_pattern_t* pattern = nullptr;

    Pattern() = default;

    explicit Pattern(cairo_pattern_t* p) : pattern(p) {}

    Pattern(const Pattern& other) : pattern(other.pattern) {
        if (pattern != nullptr) {
            cairo_pattern_reference(pattern);
        }
    }

    Pattern& operator=(Pattern other) {
        std::swap(pattern, other.pattern);
        return *this;
    }

    ~Pattern() {
        if (pattern != nullptr) {
            cairo_pattern_destroy(pattern);
        }
    }
};

}  // namespace

// Colours and alpha are ours, not cairo's: its source is set from them at each paint.
struct CairoContext::State {
    // A cairo group opened at a level of the state, closed when that level is restored.
    struct Group {
        enum class Kind { BuildingMask, MaskApplied, Shadow };

        Kind kind = Kind::BuildingMask;
        // MaskApplied: the mask that what the group holds is shown through.
        Pattern maskPattern;
        // Shadow: its colour, and its offset and blur in device pixels.
        Color color;
        double dx = 0;
        double dy = 0;
        double sigma = 0;
    };

    struct Values {
        Color fill = Color::black();
        Color stroke = Color::black();
        double alpha = 1;
        // Oldest first.
        std::vector<Group> groups;
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
    context->handles_->layout = pango_cairo_create_layout(context->handles_->cr);
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
    // Groups belong to the level they were opened on; the new level starts without any.
    state_->current.groups.clear();
}

void CairoContext::restoreState() {
    if (state_->saved.empty()) {
        return;
    }
    closeGroups();
    cairo_restore(handles_->cr);
    state_->current = state_->saved.back();
    state_->saved.pop_back();
}

namespace {

// In device pixels: the widest blur a shadow gets.
constexpr double kMaxShadowSigma = 256;

// Paints `content` (a popped group) over its shadow: its alpha blurred by `sigma`, moved by
// (dx, dy) device pixels, in `color`.
void paintShadow(
        cairo_t* cr, cairo_pattern_t* content, Color color, double dx, double dy, double sigma) {
    // The group holds at most what the clip let through; its shadow spreads about 3 sigma.
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    double left = 0, top = 0, right = 0, bottom = 0;
    bool first = true;
    for (auto [x, y] :
         {std::pair{x1, y1}, std::pair{x2, y1}, std::pair{x1, y2}, std::pair{x2, y2}}) {
        cairo_user_to_device(cr, &x, &y);
        left = first ? x : std::min(left, x);
        right = first ? x : std::max(right, x);
        top = first ? y : std::min(top, y);
        bottom = first ? y : std::max(bottom, y);
        first = false;
    }
    const double pad = std::ceil(3 * sigma) + 1;
    const int x0 = static_cast<int>(std::floor(left - pad));
    const int y0 = static_cast<int>(std::floor(top - pad));
    const int width = static_cast<int>(std::ceil(right + pad)) - x0;
    const int height = static_cast<int>(std::ceil(bottom + pad)) - y0;
    if (width > 0 && height > 0) {
        cairo_surface_t* alpha = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
        if (cairo_surface_status(alpha) == CAIRO_STATUS_SUCCESS) {
            cairo_t* a = cairo_create(alpha);
            cairo_matrix_t matrix;
            cairo_get_matrix(cr, &matrix);
            cairo_translate(a, -x0, -y0);
            cairo_transform(a, &matrix);
            cairo_set_source(a, content);
            cairo_paint(a);
            cairo_destroy(a);
            cairo_surface_flush(alpha);
            internal::blurAlpha(cairo_image_surface_get_data(alpha), width, height,
                                static_cast<std::size_t>(cairo_image_surface_get_stride(alpha)),
                                sigma);
            cairo_surface_mark_dirty(alpha);
            cairo_save(cr);
            cairo_identity_matrix(cr);
            cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
            cairo_mask_surface(cr, alpha, x0 + dx, y0 + dy);
            cairo_restore(cr);
        }
        cairo_surface_destroy(alpha);
    }
    cairo_set_source(cr, content);
    cairo_paint(cr);
}

}  // namespace

void CairoContext::closeGroups() {
    cairo_t* cr = handles_->cr;
    auto& groups = state_->current.groups;
    while (!groups.empty()) {
        const State::Group group = std::move(groups.back());
        groups.pop_back();
        Pattern content(cairo_pop_group(cr));
        switch (group.kind) {
            case State::Group::Kind::BuildingMask:
                break;
            case State::Group::Kind::MaskApplied:
                cairo_set_source(cr, content.pattern);
                cairo_mask(cr, group.maskPattern.pattern);
                break;
            case State::Group::Kind::Shadow:
                paintShadow(cr, content.pattern, group.color, group.dx, group.dy, group.sigma);
                break;
        }
    }
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

void CairoContext::setLineCap(LineCap cap) {
    cairo_set_line_cap(handles_->cr, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                                     : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                              : CAIRO_LINE_CAP_BUTT);
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

void CairoContext::addRect(Rect r, double cornerRadius) {
    if (r.width <= 0 || r.height <= 0) {
        return;
    }
    roundedRect(r, cornerRadius);
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

void CairoContext::clipToPath() {
    cairo_clip(handles_->cr);
}

namespace {

PangoWeight pangoWeight(FontWeight weight) {
    switch (weight) {
        case FontWeight::UltraLight:
            return PANGO_WEIGHT_ULTRALIGHT;
        case FontWeight::Thin:
            return PANGO_WEIGHT_THIN;
        case FontWeight::Light:
            return PANGO_WEIGHT_LIGHT;
        case FontWeight::Regular:
            return PANGO_WEIGHT_NORMAL;
        case FontWeight::Medium:
            return PANGO_WEIGHT_MEDIUM;
        case FontWeight::Semibold:
            return PANGO_WEIGHT_SEMIBOLD;
        case FontWeight::Bold:
            return PANGO_WEIGHT_BOLD;
        case FontWeight::Heavy:
            return PANGO_WEIGHT_HEAVY;
        case FontWeight::Black:
            return PANGO_WEIGHT_ULTRAHEAVY;
    }
    return PANGO_WEIGHT_NORMAL;
}

PangoEllipsizeMode ellipsis(LineBreakMode mode) {
    switch (mode) {
        case LineBreakMode::ByTruncatingHead:
            return PANGO_ELLIPSIZE_START;
        case LineBreakMode::ByTruncatingMiddle:
            return PANGO_ELLIPSIZE_MIDDLE;
        case LineBreakMode::ByTruncatingTail:
            return PANGO_ELLIPSIZE_END;
        case LineBreakMode::ByWordWrapping:
        case LineBreakMode::ByCharWrapping:
        case LineBreakMode::ByClipping:
            return PANGO_ELLIPSIZE_NONE;
    }
    return PANGO_ELLIPSIZE_NONE;
}

// A Pango description of `font` (the caller frees it).
PangoFontDescription* describe(const Font& font) {
    PangoFontDescription* description = pango_font_description_new();
    // An empty family is the fontconfig default sans-serif face.
    pango_font_description_set_family(description,
                                      font.family.empty() ? "sans-serif" : font.family.c_str());
    pango_font_description_set_weight(description, pangoWeight(font.weight));
    pango_font_description_set_absolute_size(description, std::max(0.0, font.size) * PANGO_SCALE);
    return description;
}

// Sets `layout` up for `text` in `style`, `width` points wide (0: unbounded), its runs painted
// under `alpha`. Returns whether Pango aligns the lines itself (it needs a width for that).
bool prepareLayout(PangoLayout* layout,
                   const std::string& text,
                   const TextStyle& style,
                   double width,
                   double alpha) {
    PangoFontDescription* description = describe(style.font);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    PangoAttrList* attributes = pango_attr_list_new();
    std::size_t start = 0;
    for (const auto& run : style.runs) {
        const auto end = std::min(text.size(), start + run.text.size());
        const auto range = [&](PangoAttribute* attribute) {
            attribute->start_index = static_cast<guint>(start);
            attribute->end_index = static_cast<guint>(end);
            pango_attr_list_insert(attributes, attribute);
        };
        PangoFontDescription* runFont = describe(run.font);
        range(pango_attr_font_desc_new(runFont));
        pango_font_description_free(runFont);
        const auto channel = [](double c) {
            return static_cast<guint16>(std::lround(std::clamp(c, 0.0, 1.0) * 65535));
        };
        range(pango_attr_foreground_new(channel(run.color.red), channel(run.color.green),
                                        channel(run.color.blue)));
        range(pango_attr_foreground_alpha_new(channel(run.color.alpha * alpha)));
        start = end;
    }
    pango_layout_set_attributes(layout, attributes);
    pango_attr_list_unref(attributes);

    // Text with no line limit wraps as far as it needs and is never cut.
    const PangoEllipsizeMode cut =
            style.numberOfLines == 0 ? PANGO_ELLIPSIZE_NONE : ellipsis(style.lineBreak);
    const bool singleLine = style.numberOfLines == 1;
    const bool bounded = width > 0 && (!singleLine || cut != PANGO_ELLIPSIZE_NONE);
    pango_layout_set_single_paragraph_mode(layout, singleLine);
    pango_layout_set_width(layout, bounded ? static_cast<int>(width * PANGO_SCALE) : -1);
    pango_layout_set_wrap(layout, style.lineBreak == LineBreakMode::ByCharWrapping
                                          ? PANGO_WRAP_CHAR
                                          : PANGO_WRAP_WORD_CHAR);
    pango_layout_set_ellipsize(layout, cut);
    pango_layout_set_height(layout, style.numberOfLines > 0 ? -style.numberOfLines : -1);
    pango_layout_set_justify(layout, style.alignment == TextAlignment::Justified);
    pango_layout_set_alignment(layout, style.alignment == TextAlignment::Center ? PANGO_ALIGN_CENTER
                                       : style.alignment == TextAlignment::Right
                                               ? PANGO_ALIGN_RIGHT
                                               : PANGO_ALIGN_LEFT);
    return bounded;
}

// The height of the first `lines` lines of `layout` in points (all of them for 0).
double heightOfLines(PangoLayout* layout, int lines) {
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    double bottom = 0;
    int line = 0;
    do {
        if (lines > 0 && line == lines) {
            break;
        }
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter, nullptr, &logical);
        bottom = static_cast<double>(logical.y + logical.height) / PANGO_SCALE;
        ++line;
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);
    return bottom;
}

}  // namespace

Size CairoContext::measureText(const std::string& text, const TextStyle& style, double width) {
    if (text.empty()) {
        return {};
    }
    pango_cairo_update_layout(handles_->cr, handles_->layout);
    prepareLayout(handles_->layout, text, style, width, 1.0);
    PangoRectangle logical;
    pango_layout_get_extents(handles_->layout, nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE,
            heightOfLines(handles_->layout, style.numberOfLines)};
}

Size measureLaidOutText(const std::string& text, const TextStyle& style, double width) {
    if (text.empty()) {
        return {};
    }
    auto context = CairoContext::create(image::Bitmap::create(
            1, 1, {.format = image::PixelFormat::BGRA8, .premultiplied = true, .scale = 1}));
    return context ? context->measureText(text, style, width) : Size{};
}

void CairoContext::drawText(const std::string& text, Rect rect, const TextStyle& style) {
    if (text.empty()) {
        return;
    }
    cairo_t* cr = handles_->cr;
    PangoLayout* layout = handles_->layout;
    pango_cairo_update_layout(cr, layout);
    const bool aligned = prepareLayout(layout, text, style, rect.width, state_->current.alpha);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    const double textWidth = static_cast<double>(logical.width) / PANGO_SCALE;
    // Lines beyond numberOfLines that Pango keeps (when it does not ellipsize) are clipped off.
    const int lineCount = pango_layout_get_line_count(layout);
    const bool tooManyLines = style.numberOfLines > 0 && lineCount > style.numberOfLines;
    const double height = heightOfLines(layout, style.numberOfLines);
    double x = rect.x;
    if (!aligned) {
        const double spare = rect.width - textWidth;
        if (style.alignment == TextAlignment::Center) {
            x += spare / 2;
        } else if (style.alignment == TextAlignment::Right) {
            x += spare;
        }
    }
    const double y = style.centredVertically ? rect.y + (rect.height - height) / 2 : rect.y;
    cairo_save(cr);
    if (tooManyLines || style.lineBreak == LineBreakMode::ByClipping) {
        cairo_rectangle(cr, rect.x, y, std::max(0.0, rect.width), height);
        cairo_clip(cr);
    }
    setSource(style.color);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_new_path(cr);
    cairo_restore(cr);
}

void CairoContext::paintBitmap(const image::Bitmap& stored, Rect r, const Color* tint) {
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
    const int w = bitmap.width();
    const int h = bitmap.height();
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
    // cairo reads premultiplied BGRA: such a bitmap is read in place, other layouts are
    // converted into a scratch copy.
    const bool direct = bitmap.format() == image::PixelFormat::BGRA8
                        && (bitmap.premultiplied() || bitmap.opaque())
                        && bitmap.stride() == static_cast<std::size_t>(stride);
    std::vector<uint8_t> pixels;
    if (!direct) {
        pixels.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
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
    }
    // An opaque bitmap is read as RGB24 so that its alpha bytes (often 0 in camera frames) do
    // not matter.
    const bool opaqueDirect = direct && bitmap.opaque();
    cairo_surface_t* source = cairo_image_surface_create_for_data(
            direct ? const_cast<uint8_t*>(bitmap.pixel(0, 0)) : pixels.data(),
            opaqueDirect ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, w, h, stride);
    cairo_t* cr = handles_->cr;
    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);
    cairo_translate(cr, r.x, r.y);
    cairo_scale(cr, r.width / w, r.height / h);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(source);
    // Padding keeps the edges solid up to the rectangle instead of fading them out.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    if (w <= 2 || h <= 2) {
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    }
    if (tint != nullptr) {
        setSource(*tint);
        cairo_mask(cr, pattern);
    } else {
        cairo_set_source(cr, pattern);
        cairo_paint_with_alpha(cr, state_->current.alpha);
    }
    cairo_pattern_destroy(pattern);
    cairo_restore(cr);
    cairo_surface_destroy(source);
}

void CairoContext::drawBitmap(const image::Bitmap& bitmap, Rect r) {
    paintBitmap(bitmap, r, nullptr);
}

void CairoContext::drawTintedBitmap(const image::Bitmap& bitmap, Rect r, Color color) {
    paintBitmap(bitmap, r, &color);
}

void CairoContext::drawLinearGradient(const LinearGradient& g) {
    if (g.stops.empty()) {
        return;
    }
    Pattern pattern(cairo_pattern_create_linear(g.start.x, g.start.y, g.end.x, g.end.y));
    const auto add = [&](double location, Color c) {
        cairo_pattern_add_color_stop_rgba(pattern.pattern, location, c.red, c.green, c.blue,
                                          c.alpha * state_->current.alpha);
    };
    // Without extension the gradient ends in transparent stops just outside its first and last.
    constexpr double kEdge = 1e-6;
    const GradientStop& first = g.stops.front();
    const GradientStop& last = g.stops.back();
    if (!g.extendBeforeStart && first.location > kEdge) {
        add(first.location - kEdge, Color::clear());
    }
    for (const auto& stop : g.stops) {
        add(std::clamp(stop.location, 0.0, 1.0), stop.color);
    }
    if (!g.extendAfterEnd && last.location < 1 - kEdge) {
        add(last.location + kEdge, Color::clear());
    }
    cairo_pattern_set_extend(pattern.pattern, g.extendBeforeStart && g.extendAfterEnd
                                                      ? CAIRO_EXTEND_PAD
                                                      : CAIRO_EXTEND_NONE);
    cairo_t* cr = handles_->cr;
    cairo_save(cr);
    if (g.extendBeforeStart != g.extendAfterEnd) {
        // One side extended: pad, then cut the other side off along the axis.
        cairo_pattern_set_extend(pattern.pattern, CAIRO_EXTEND_PAD);
        const double dx = g.end.x - g.start.x;
        const double dy = g.end.y - g.start.y;
        const Point edge = g.extendBeforeStart ? g.end : g.start;
        // A half plane beyond `edge`, as a large polygon perpendicular to the axis.
        const double length = std::hypot(dx, dy);
        if (length > 0) {
            constexpr double kFar = 1e5;
            const double ux = dx / length, uy = dy / length;
            const double sign = g.extendBeforeStart ? -1 : 1;
            cairo_move_to(cr, edge.x - uy * kFar, edge.y + ux * kFar);
            cairo_line_to(cr, edge.x + uy * kFar, edge.y - ux * kFar);
            cairo_line_to(cr, edge.x + uy * kFar + sign * ux * kFar,
                          edge.y - ux * kFar + sign * uy * kFar);
            cairo_line_to(cr, edge.x - uy * kFar + sign * ux * kFar,
                          edge.y + ux * kFar + sign * uy * kFar);
            cairo_close_path(cr);
            cairo_clip(cr);
        }
    }
    cairo_set_source(cr, pattern.pattern);
    cairo_paint(cr);
    cairo_restore(cr);
}

void CairoContext::beginMask() {
    cairo_push_group(handles_->cr);
    State::Group group;
    group.kind = State::Group::Kind::BuildingMask;
    state_->current.groups.push_back(std::move(group));
}

void CairoContext::endMask() {
    auto& groups = state_->current.groups;
    if (groups.empty() || groups.back().kind != State::Group::Kind::BuildingMask) {
        return;
    }
    groups.back().maskPattern = Pattern(cairo_pop_group(handles_->cr));
    groups.back().kind = State::Group::Kind::MaskApplied;
    cairo_push_group(handles_->cr);
}

void CairoContext::setShadow(Color color, Size offset, double blurRadius) {
    if (state_->saved.empty()) {
        return;
    }
    cairo_t* cr = handles_->cr;
    State::Group shadow;
    shadow.kind = State::Group::Kind::Shadow;
    shadow.color = color;
    shadow.dx = offset.width;
    shadow.dy = offset.height;
    cairo_user_to_device_distance(cr, &shadow.dx, &shadow.dy);
    if (!std::isfinite(shadow.dx) || !std::isfinite(shadow.dy)) {
        shadow.dx = shadow.dy = 0;
    }
    // NaN and negative radii blur nothing.
    double rx = std::max(0.0, blurRadius);
    double ry = 0;
    cairo_user_to_device_distance(cr, &rx, &ry);
    // A wider blur would only thin the shadow out of sight, while its pixel plane grows with it
    // (and past the range of int).
    shadow.sigma = std::min(std::hypot(rx, ry) / 2, kMaxShadowSigma);
    cairo_push_group(cr);
    state_->current.groups.push_back(std::move(shadow));
}

}  // namespace pelmar::ui
