#include "pelmar/platform/ui/RecordingContext.h"

#include <sstream>

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

void RecordingContext::drawText(const std::string& text, Point origin, const Font& font, Color c) {
    add("text \"" + text + "\" at " + numbers({origin.x, origin.y}) + " " + font.family + " "
        + numbers({font.size}) + (font.isBold() ? " bold" : "") + " color " + color(c));
}

void RecordingContext::drawBitmap(const image::Bitmap& bitmap, Rect r) {
    add("bitmap " + std::to_string(bitmap.width()) + "x" + std::to_string(bitmap.height()) + " in "
        + rect(r));
}

}  // namespace pelmar::ui
