#pragma once

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Rect.h"

// SliderLayer: a layer that a control places and paints itself: a frame in the control's
// coordinates, the scale it draws at, a count of redraw requests and its own drawing.
// Ownership: reference object owned by its control.
// Threads: main thread only.
// Errors: none.

namespace pelmar {

class SliderLayer {
public:
    virtual ~SliderLayer() = default;

    ui::Rect frame() const { return frame_; }

    void setFrame(ui::Rect frame) { frame_ = frame; }

    ui::Rect bounds() const { return ui::Rect{0, 0, frame_.width, frame_.height}; }

    double contentsScale() const { return contentsScale_; }

    void setContentsScale(double scale) { contentsScale_ = scale; }

    void setNeedsDisplay() { ++displayRequests_; }

    // How often a redraw was asked for.
    int displayRequests() const { return displayRequests_; }

    // Paints the layer in its own coordinates (origin at its top left).
    virtual void drawInContext(ui::GraphicsContext& context) = 0;

private:
    ui::Rect frame_;
    double contentsScale_ = 1;
    int displayRequests_ = 0;
};

}  // namespace pelmar
