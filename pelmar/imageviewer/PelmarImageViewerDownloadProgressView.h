#pragma once

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Size.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// PelmarImageViewerDownloadProgressView: the circular progress indicator of a page that waits
// for its picture: a light track circle and a white arc over it from the top, clockwise, as far
// as the progress.
// Ownership: made with std::make_shared.
// Threads: main thread only.
// Errors: none; progress is clamped to [0, 1] (a NaN counts as 0), so an unknown expected size
//     draws no arc rather than a negative one.
class PelmarImageViewerDownloadProgressView : public ui::View {
public:
    // What one of its two stroked circles looks like.
    struct Stroke {
        ui::Color color;
        double lineWidth = 3.0;
        double strokeEnd = 0;
        bool roundCap = true;
    };

    // The arc both strokes follow.
    struct Arc {
        ui::Point center;
        double radius = 0;
        double startAngle = 0;
        double endAngle = 0;
        bool clockwise = true;
    };

    // Side = floor(0.15 x the main screen's width).
    PelmarImageViewerDownloadProgressView();

    double progress() const { return progress_; }

    void setProgress(double progress);

    // The side length the page sizes it to.
    ui::Size progessSize() const { return progessSize_; }

    const Arc& progressPath() const { return path_; }

    const Stroke& progressBackingLayer() const { return backing_; }

    const Stroke& progressLayer() const { return progressStroke_; }

    void draw(ui::GraphicsContext& context) override;

protected:
    std::string className() const override { return "PelmarImageViewerDownloadProgressView"; }

private:
    double progress_ = 0;
    ui::Size progessSize_;
    Arc path_;
    Stroke backing_;
    Stroke progressStroke_;
};

}  // namespace pelmar
