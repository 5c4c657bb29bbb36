#include "pelmar/imageviewer/PelmarImageViewerDownloadProgressView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Screen.h"

namespace pelmar {

namespace {

// The platform's light text colour: white at 60 % opacity.
constexpr ui::Color kLightText{1, 1, 1, 0.6};

}  // namespace

PelmarImageViewerDownloadProgressView::PelmarImageViewerDownloadProgressView() {
    const float side = std::floor(0.15f * static_cast<float>(ui::Screen::main().bounds().width));
    progessSize_ = {side, side};
    setFrame({0, 0, side, side});
    // The circle inside a 1.5 point margin, from the top, one full clockwise turn.
    const double inset = side - 3.0;
    path_.center = {1.5 + inset / 2, 1.5 + inset / 2};
    path_.radius = static_cast<float>(inset / 2);
    path_.startAngle = 3 * std::numbers::pi / 2;
    path_.endAngle = path_.startAngle + 2 * std::numbers::pi;
    path_.clockwise = true;
    backing_ = {kLightText, 3.0, 1.0, true};
    progressStroke_ = {ui::Color::white(), 3.0, 0.0, true};
    layer()->setBackgroundColor(ui::Color::clear());
}

void PelmarImageViewerDownloadProgressView::setProgress(double progress) {
    progress_ = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
    progressStroke_.strokeEnd = progress_;
    setNeedsDisplay();
}

void PelmarImageViewerDownloadProgressView::draw(ui::GraphicsContext& context) {
    for (const Stroke* stroke : {&backing_, &progressStroke_}) {
        if (stroke->strokeEnd <= 0) {
            continue;
        }
        context.setStrokeColor(stroke->color);
        context.setLineWidth(stroke->lineWidth);
        context.setLineCap(stroke->roundCap ? ui::LineCap::Round : ui::LineCap::Butt);
        const double end =
                path_.startAngle + (path_.endAngle - path_.startAngle) * stroke->strokeEnd;
        context.arc(path_.center, path_.radius, path_.startAngle, end);
        context.strokePath();
    }
}

}  // namespace pelmar
