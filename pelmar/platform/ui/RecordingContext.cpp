#include "pelmar/platform/ui/RecordingContext.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string_view>

namespace pelmar::ui {

namespace {

// Numbers as the shortest text that reads back the same (0.5, 10, 0.333333).
std::string numbers(std::initializer_list<double> values) {
    std::ostringstream out;
    bool first = true;
    for (double v : values) {
        out << (first ? "" : " ") << v;
        first = false;
    }
    return out.str();
}

std::string rect(Rect r) {
    return numbers({r.x, r.y, r.width, r.height});
}

std::string color(Color c) {
    return numbers({c.red, c.green, c.blue, c.alpha});
}

}  // namespace

std::vector<std::string> RecordingContext::operations(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& line : operations_) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

void RecordingContext::saveState() {
    add("save");
}

void RecordingContext::restoreState() {
    add("restore");
}

void RecordingContext::translate(double dx, double dy) {
    add("translate " + numbers({dx, dy}));
}

void RecordingContext::concat(const AffineTransform& t) {
    add("concat " + numbers({t.a, t.b, t.c, t.d, t.tx, t.ty}));
}

void RecordingContext::setAlpha(double alpha) {
    add("alpha " + numbers({alpha}));
}

void RecordingContext::clipToRect(Rect r, double cornerRadius) {
    add("clip " + rect(r) + " r=" + numbers({cornerRadius}));
}

void RecordingContext::setFillColor(Color c) {
    add("fillColor " + color(c));
}

void RecordingContext::setStrokeColor(Color c) {
    add("strokeColor " + color(c));
}

void RecordingContext::setLineWidth(double width) {
    add("lineWidth " + numbers({width}));
}

void RecordingContext::setLineCap(LineCap cap) {
    add(std::string("lineCap ")
        + (cap == LineCap::Round    ? "round"
           : cap == LineCap::Square ? "square"
                                    : "butt"));
}

void RecordingContext::fillRect(Rect r, double cornerRadius) {
    add("fillRect " + rect(r) + " r=" + numbers({cornerRadius}));
}

void RecordingContext::strokeRect(Rect r, double cornerRadius) {
    add("strokeRect " + rect(r) + " r=" + numbers({cornerRadius}));
}

void RecordingContext::moveTo(Point p) {
    add("moveTo " + numbers({p.x, p.y}));
}

void RecordingContext::lineTo(Point p) {
    add("lineTo " + numbers({p.x, p.y}));
}

void RecordingContext::arc(Point centre, double radius, double startAngle, double endAngle) {
    add("arc " + numbers({centre.x, centre.y, radius, startAngle, endAngle}));
}

void RecordingContext::closePath() {
    add("closePath");
}

void RecordingContext::fillPath() {
    add("fillPath");
}

void RecordingContext::strokePath() {
    add("strokePath");
}

void RecordingContext::addRect(Rect r, double cornerRadius) {
    add("addRect " + rect(r) + " r=" + numbers({cornerRadius}));
}

void RecordingContext::clipToPath() {
    add("clipToPath");
}

namespace {

std::string_view weightName(FontWeight weight) {
    switch (weight) {
        case FontWeight::UltraLight:
            return "ultralight";
        case FontWeight::Thin:
            return "thin";
        case FontWeight::Light:
            return "light";
        case FontWeight::Regular:
            return "regular";
        case FontWeight::Medium:
            return "medium";
        case FontWeight::Semibold:
            return "semibold";
        case FontWeight::Bold:
            return "bold";
        case FontWeight::Heavy:
            return "heavy";
        case FontWeight::Black:
            return "black";
    }
    return "regular";
}

std::string_view alignmentName(TextAlignment alignment) {
    switch (alignment) {
        case TextAlignment::Natural:
            return "natural";
        case TextAlignment::Left:
            return "left";
        case TextAlignment::Center:
            return "center";
        case TextAlignment::Right:
            return "right";
        case TextAlignment::Justified:
            return "justified";
    }
    return "natural";
}

std::string bitmapSize(const image::Bitmap& bitmap) {
    return std::to_string(bitmap.width()) + "x" + std::to_string(bitmap.height());
}

}  // namespace

void RecordingContext::drawText(const std::string& text, Rect r, const TextStyle& style) {
    add("text \"" + text + "\" in " + rect(r) + " "
        + (style.font.family.empty() ? std::string("system") : style.font.family) + " "
        + numbers({style.font.size}) + " " + std::string(weightName(style.font.weight)) + " color "
        + color(style.color) + " " + std::string(alignmentName(style.alignment)) + " lines "
        + std::to_string(style.numberOfLines)
        + (style.runs.empty() ? std::string() : " runs " + std::to_string(style.runs.size())));
}

Size RecordingContext::measureText(const std::string& text, const TextStyle& style, double width) {
    if (text.empty()) {
        return {};
    }
    const double advance = 0.6 * style.font.size;
    const double natural = advance * static_cast<double>(text.size());
    double lines = 1;
    if (width > 0 && natural > width && style.numberOfLines != 1) {
        lines = std::ceil(natural / width);
        if (style.numberOfLines > 0) {
            lines = std::min(lines, static_cast<double>(style.numberOfLines));
        }
    }
    return {width > 0 ? std::min(natural, width) : natural, lines * 1.2 * style.font.size};
}

void RecordingContext::drawBitmap(const image::Bitmap& bitmap, Rect r) {
    add("bitmap " + bitmapSize(bitmap) + " in " + rect(r));
}

void RecordingContext::drawTintedBitmap(const image::Bitmap& bitmap, Rect r, Color c) {
    add("tinted " + bitmapSize(bitmap) + " in " + rect(r) + " color " + color(c));
}

void RecordingContext::drawLinearGradient(const LinearGradient& g) {
    std::string line = "gradient " + numbers({g.start.x, g.start.y, g.end.x, g.end.y}) + " stops";
    for (const auto& stop : g.stops) {
        line += " " + numbers({stop.location}) + ":" + color(stop.color);
    }
    add(line);
}

void RecordingContext::beginMask() {
    add("beginMask");
}

void RecordingContext::endMask() {
    add("endMask");
}

void RecordingContext::setShadow(Color c, Size offset, double blurRadius) {
    add("shadow " + color(c) + " offset " + numbers({offset.width, offset.height}) + " blur "
        + numbers({blurRadius}));
}

}  // namespace pelmar::ui
