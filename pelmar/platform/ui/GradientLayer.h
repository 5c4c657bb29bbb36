#pragma once

#include <vector>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Point.h"

namespace pelmar::ui {

// GradientLayer: a layer that paints a linear gradient over its bounds: colours at locations
// along the axis from startPoint to endPoint, both in unit coordinates of the bounds (0, 0 top
// left, 1, 1 bottom right), extended past the ends in the end colours.
// Ownership: reference object made with std::make_shared.
// Threads: main thread only.
// Errors: none; without locations the colours are spread evenly; extra locations or colours
//     beyond the shorter list are ignored.
class GradientLayer : public Layer {
public:
    const std::vector<Color>& colors() const { return colors_; }

    void setColors(std::vector<Color> colors) { colors_ = std::move(colors); }

    const std::vector<double>& locations() const { return locations_; }

    void setLocations(std::vector<double> locations) { locations_ = std::move(locations); }

    Point startPoint() const { return startPoint_; }

    void setStartPoint(Point point) { startPoint_ = point; }

    Point endPoint() const { return endPoint_; }

    void setEndPoint(Point point) { endPoint_ = point; }

    void draw(GraphicsContext& context, Rect bounds) override;

private:
    std::vector<Color> colors_;
    std::vector<double> locations_;
    Point startPoint_{0.5, 0};
    Point endPoint_{0.5, 1};
};

}  // namespace pelmar::ui
