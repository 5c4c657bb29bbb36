#pragma once

#include <memory>

#include "pelmar/platform/ui/GraphicsContext.h"

// CairoContext: a GraphicsContext that paints with cairo into a BGRA, premultiplied bitmap (the
// byte order cairo uses on little-endian machines). Text is laid out by Pango in the fonts that
// fontconfig finds, so any installed family may be named and missing characters fall back to
// other fonts. A shadow blurs over at most 512 device pixels (a standard deviation of 256).
// Ownership: made by create(); shares the bitmap it paints and owns its cairo handles.
// Threads: thread-compatible.
// Errors: create() gives null for a bitmap that is not BGRA8 and premultiplied or whose stride
//     cairo cannot use.

namespace pelmar::ui {

class CairoContext final : public GraphicsContext {
public:
    // Points are scaled by the bitmap's scale.
    static std::unique_ptr<CairoContext> create(std::shared_ptr<image::Bitmap> target);

    ~CairoContext() override;
    CairoContext(const CairoContext&) = delete;
    CairoContext& operator=(const CairoContext&) = delete;

    // Finishes pending painting; the bitmap then holds it all.
    void flush();

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
    struct State;
    struct Handles;

    CairoContext() = default;

    void setSource(Color color);
    // Pops the groups opened at the current level, innermost first, painting what they hold.
    void closeGroups();
    void roundedRect(Rect rect, double radius);
    // Paints `bitmap` into `rect`, or `*tint` through its alpha.
    void paintBitmap(const image::Bitmap& bitmap, Rect rect, const Color* tint);

    std::shared_ptr<image::Bitmap> target_;
    std::unique_ptr<Handles> handles_;
    std::unique_ptr<State> state_;
};

// The size of `text` laid out as the painter lays it out (measureText() of a cairo context), for
// code that sizes views without a context at hand.
Size measureLaidOutText(const std::string& text, const TextStyle& style, double width);

}  // namespace pelmar::ui
