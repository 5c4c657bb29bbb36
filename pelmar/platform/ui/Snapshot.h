#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/View.h"

// Snapshot: paints a view and its subviews the way they show: each visible view (not hidden,
// alpha above 0) at its frame, with its layer's shadow, mask, clip, background, corner radius,
// sublayers and border, the text of labels in their fonts and colours, the images of image views
// placed by their content mode, the image and title of buttons for their state, and what draw()
// paints, all multiplied by the view's alpha and its layer's opacity (internal/ViewPainter.h has
// the order). paint() sends that to any GraphicsContext; render() paints into a new bitmap;
// snapshot() writes it as a PNG.
// Ownership: functions; render() returns a bitmap the caller owns.
// Threads: main thread only (views are read).
// Errors: render() gives null for a view with an empty frame or one beyond Bitmap's caps;
//     snapshot() returns an Error (domain kSnapshotErrorDomain, code 1) when rendering or writing
//     fails.

namespace pelmar::ui {

inline constexpr std::string_view kSnapshotErrorDomain = "pelmar.ui.snapshot";

// `view` in its own coordinates: its frame's origin is not applied, its hidden flag is.
void paint(View& view, GraphicsContext& context);

// A premultiplied BGRA bitmap of the view's size times `scale`.
std::shared_ptr<image::Bitmap> render(View& view, double scale = 1.0);

std::optional<Error> snapshot(View& view, const std::filesystem::path& path, double scale = 1.0);

}  // namespace pelmar::ui
