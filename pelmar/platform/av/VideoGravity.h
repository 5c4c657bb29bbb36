#pragma once

#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::av {

// VideoGravity: how player and capture layers place a video picture in their bounds, and the
// painting that follows from it.
// Ownership: value types and free functions; nothing is kept.
// Threads: thread-safe (drawVideoPicture: the threads of the context it paints into).
// Errors: none; bounds without area paint nothing, a picture without area fills the bounds.

// How a video layer fits its picture into its bounds: stretched (Resize), whole with its aspect
// kept (ResizeAspect, bars where it does not reach), or covering the bounds with its aspect kept
// (ResizeAspectFill, cut where it overflows).
enum class LayerVideoGravity { Resize, ResizeAspect, ResizeAspectFill };

// Where a picture of `width` x `height` pixels goes in `bounds` under `gravity`; the bounds
// themselves for an empty picture.
ui::Rect videoRect(LayerVideoGravity gravity, double width, double height, ui::Rect bounds);

// Paints `picture` into `bounds` under `gravity`, clipped to the bounds, turned left to right
// when `mirrored` (a front camera's preview). Threads: those of the context.
void drawVideoPicture(ui::GraphicsContext& context,
                      const image::Bitmap& picture,
                      LayerVideoGravity gravity,
                      ui::Rect bounds,
                      bool mirrored = false);

}  // namespace pelmar::av
