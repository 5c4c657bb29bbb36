#pragma once

#include <memory>
#include <string>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"

// GraphicsContext: what a view draws into: a state of fill and stroke colours, line width, alpha,
// translation and clip, and operations that paint rectangles, rounded rectangles, paths, text
// and bitmaps. Coordinates are points, origin at the top left of the view being drawn.
// Two contexts implement it: RecordingContext keeps a list of the operations (what tests read)
// and CairoContext paints them into an image::Bitmap.
// Ownership: abstract; contexts are made by whoever draws and passed by reference; bitmaps drawn
//     are read during the call only.
// Threads: thread-compatible.
// Errors: none; operations with nothing to paint (empty rectangles, empty text) paint nothing.

namespace pelmar::ui {

class GraphicsContext {
public:
    virtual ~GraphicsContext() = default;

    // Pushes and pops the whole state (colours, width, alpha, translation, clip).
    virtual void saveState() = 0;
    virtual void restoreState() = 0;

    virtual void translate(double dx, double dy) = 0;
    // Multiplies the current transformation by `transform` (applied to coordinates first).
    virtual void concat(const AffineTransform& transform) = 0;
    // Multiplies everything painted from now on by `alpha` (on top of the alpha already set).
    virtual void setAlpha(double alpha) = 0;
    virtual void clipToRect(Rect rect, double cornerRadius = 0) = 0;

    virtual void setFillColor(Color color) = 0;
    virtual void setStrokeColor(Color color) = 0;
    virtual void setLineWidth(double width) = 0;

    virtual void fillRect(Rect rect, double cornerRadius = 0) = 0;
    // The line is centred on the rectangle's edge.
    virtual void strokeRect(Rect rect, double cornerRadius = 0) = 0;

    // Paths: a polyline or polygon built point by point, then filled or stroked (which ends it).
    virtual void moveTo(Point point) = 0;
    virtual void lineTo(Point point) = 0;
    // A circular arc around `centre`, angles in radians clockwise from the x axis.
    virtual void arc(Point centre, double radius, double startAngle, double endAngle) = 0;
    virtual void closePath() = 0;
    virtual void fillPath() = 0;
    virtual void strokePath() = 0;

    // `origin` is the top left of the text's line box.
    virtual void drawText(const std::string& text, Point origin, const Font& font, Color color) = 0;

    // Scales `bitmap`, turned upright by its orientation, to fill `rect`.
    virtual void drawBitmap(const image::Bitmap& bitmap, Rect rect) = 0;
};

}  // namespace pelmar::ui
