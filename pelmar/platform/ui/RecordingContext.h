#pragma once

#include <string>
#include <vector>

#include "pelmar/platform/ui/GraphicsContext.h"

// RecordingContext: a GraphicsContext that paints nothing and keeps every operation as a line of
// text, in order, with its arguments ("fillRect 0 0 10 20 r=0", "fillColor 1 0 0 1",
// "text \"00:01\" in 4 2 60 20 sans-serif 17 regular color 1 1 1 1 center lines 1",
// "lineCap round", "bitmap 64x48 in 0 0 32 24", "tinted 24x24 in 0 0 24 24 color 1 1 1 1",
// "gradient 0 0 100 0 stops 0:1 0 0 1 1:0 0 1 1", "beginMask", "endMask",
// "shadow 0 0 0 0.8 offset 0 3 blur 3"), so tests can read what
// a view drew. measureText() answers from a fixed advance of 0.6 of the font size per character
// and 1.2 of it per line.
// Ownership: value type holding its lines.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::ui {

class RecordingContext final : public GraphicsContext {
public:
    const std::vector<std::string>& operations() const { return operations_; }

    // Operations whose line starts with `prefix` ("fillRect", "text").
    std::vector<std::string> operations(const std::string& prefix) const;

    void clear() { operations_.clear(); }

    void saveState() override;
    void restoreState() override;
    void translate(double dx, double dy) override;
    void concat(const AffineTransform& transform) override;
    void setAlpha(double alpha) override;
    void clipToRect(Rect rect, double cornerRadius = 0) override;
    void setFillColor(Color color) override;
    void setStrokeColor(Color color) override;
    void setLineWidth(double width) override;
    void setLineCap(LineCap cap) override;
    void fillRect(Rect rect, double cornerRadius = 0) override;
    void strokeRect(Rect rect, double cornerRadius = 0) override;
    void moveTo(Point point) override;
    void lineTo(Point point) override;
    void arc(Point centre, double radius, double startAngle, double endAngle) override;
    void addRect(Rect rect, double cornerRadius = 0) override;
    void closePath() override;
    void fillPath() override;
    void strokePath() override;
    void clipToPath() override;
    void drawText(const std::string& text, Rect rect, const TextStyle& style) override;
    Size measureText(const std::string& text, const TextStyle& style, double width) override;
    void drawBitmap(const image::Bitmap& bitmap, Rect rect) override;
    void drawTintedBitmap(const image::Bitmap& bitmap, Rect rect, Color color) override;
    void drawLinearGradient(const LinearGradient& gradient) override;
    void beginMask() override;
    void endMask() override;
    void setShadow(Color color, Size offset, double blurRadius) override;

private:
    void add(std::string line) { operations_.push_back(std::move(line)); }

    std::vector<std::string> operations_;
};

}  // namespace pelmar::ui
