#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/AffineTransform.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Font.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/Size.h"

// GraphicsContext: what a view draws into: a state of fill and stroke colours, line width and
// cap, alpha, transformation, clip, mask and shadow, and operations that paint rectangles, paths,
// text, gradients and bitmaps. Coordinates are points, origin at the top left of the view being
// drawn. Two contexts implement it: RecordingContext keeps a list of the operations (what tests
// read) and CairoContext paints them into an image::Bitmap.
// Ownership: abstract; contexts are made by whoever draws and passed by reference; bitmaps drawn
//     are read during the call only.
// Threads: thread-compatible.
// Errors: none; operations with nothing to paint (empty rectangles, empty text) paint nothing.

namespace pelmar::ui {

// How text is laid out in its rectangle.
struct TextStyle {
    Font font;
    Color color = Color::black();
    TextAlignment alignment = TextAlignment::Natural;
    // 0: as many lines as the text needs; otherwise at most this many, the last cut by lineBreak.
    int numberOfLines = 1;
    LineBreakMode lineBreak = LineBreakMode::ByTruncatingTail;
    // True centres the block of lines vertically in the rectangle (labels and titles); false
    // starts it at the rectangle's top (text views).
    bool centredVertically = true;
    // The text in runs of their own font and colour, in order, making up the whole text drawn;
    // empty: all of it in `font` and `color`.
    std::vector<TextRun> runs;

    friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

// A colour at a location along a gradient's axis (0 at its start point, 1 at its end point).
struct GradientStop {
    double location = 0;
    Color color;

    friend bool operator==(const GradientStop&, const GradientStop&) = default;
};

// A linear gradient from `start` to `end`; before the first stop and after the last it is
// transparent unless extended.
struct LinearGradient {
    Point start;
    Point end;
    std::vector<GradientStop> stops;
    bool extendBeforeStart = false;
    bool extendAfterEnd = false;
};

// How the open ends of a stroked line look: cut square at the end point, a half disc around it,
// or a half square beyond it.
enum class LineCap { Butt, Round, Square };

class GraphicsContext {
public:
    virtual ~GraphicsContext() = default;

    // Pushes and pops the whole state (colours, width, alpha, transformation, clip, mask).
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
    // Butt until set; kept with the rest of the state.
    virtual void setLineCap(LineCap cap) = 0;

    virtual void fillRect(Rect rect, double cornerRadius = 0) = 0;
    // The line is centred on the rectangle's edge.
    virtual void strokeRect(Rect rect, double cornerRadius = 0) = 0;

    // Paths: built piece by piece, then filled, stroked or clipped to (which ends it).
    virtual void moveTo(Point point) = 0;
    virtual void lineTo(Point point) = 0;
    // A circular arc around `centre`, angles in radians clockwise from the x axis.
    virtual void arc(Point centre, double radius, double startAngle, double endAngle) = 0;
    // A closed rectangle, with round corners when `cornerRadius` is above 0.
    virtual void addRect(Rect rect, double cornerRadius = 0) = 0;
    virtual void closePath() = 0;
    virtual void fillPath() = 0;
    virtual void strokePath() = 0;
    // Narrows the clip to the inside of the path.
    virtual void clipToPath() = 0;

    // Lays `text` out in `rect`: wrapped to its width as `style.numberOfLines` allows, the last
    // line cut by `style.lineBreak`, aligned across the rectangle; characters the font lacks are
    // drawn from another installed font. Text outside `rect` is not clipped.
    virtual void drawText(const std::string& text, Rect rect, const TextStyle& style) = 0;

    // The size of the laid-out text; `width` 0 leaves its lines unbounded.
    virtual Size measureText(const std::string& text, const TextStyle& style, double width) = 0;

    // Scales `bitmap`, turned upright by its orientation, to fill `rect` (clipped to it). A bitmap
    // one or two pixels across in a direction is stretched without smoothing, so a one-pixel track
    // image paints a flat, sharp-edged bar.
    virtual void drawBitmap(const image::Bitmap& bitmap, Rect rect) = 0;

    // Paints `color` through the bitmap's alpha, as a template image shows in its tint.
    virtual void drawTintedBitmap(const image::Bitmap& bitmap, Rect rect, Color color) = 0;

    // Paints `gradient` over the whole clip.
    virtual void drawLinearGradient(const LinearGradient& gradient) = 0;

    // What is painted between beginMask() and endMask() makes a mask and shows nothing; from
    // endMask() until the restoreState() matching the saveState() before beginMask(), painting
    // shows only where the mask has ink (in proportion to its alpha).
    virtual void beginMask() = 0;
    virtual void endMask() = 0;

    // From here until the restoreState() matching the last saveState(), what is painted shows
    // over its shadow: its alpha, blurred over `blurRadius` points (a Gaussian whose standard
    // deviation is half the radius) and moved by `offset`, painted in `color`. The offset and
    // radius are measured in the current coordinates. Ignored when no state is saved.
    virtual void setShadow(Color color, Size offset, double blurRadius) = 0;
};

}  // namespace pelmar::ui
