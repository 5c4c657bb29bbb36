#pragma once

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/View.h"

// ViewPainter: paints a view tree the way it shows, for ui::paint(). Each view paints, in its
// bounds coordinates and under its alpha and its layer's opacity: its layer's mask and clip,
// background, the layer's own drawing, the content of its kind (label text, image view image
// for the clock's time, a button's image through its image view and its title for its state),
// draw(), its layer's sublayers, its visible subviews at their places, and finally its border;
// all of it over the blurred shadow it casts when its layer has one.
// Ownership: functions over borrowed views.
// Threads: main thread only.
// Errors: none.

namespace pelmar::ui::internal {

// `view` in its bounds coordinates (its own frame's origin is not applied).
void paintView(View& view, GraphicsContext& context);

// `layer` at its frame in the current coordinates.
void paintSublayer(Layer& layer, GraphicsContext& context);

}  // namespace pelmar::ui::internal
